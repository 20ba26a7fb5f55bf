// The two full-market screens as DuckDB SQL over the database's files, for the benchmark's
// comparison with lumenpick-cli. usage: node peer_screens.mjs DB gc|rsi [OUT]
// gc: a 25/50-day average golden cross within the last 10 traded days; rsi: RSI(14) <= 30.
// Traded days are series lines with volume > 0, prices split-adjusted by the correction files,
// the stocks those with a line on the newest day. Series headers (CP932 names) are skipped.
import { DuckDBInstance } from '@duckdb/node-api';
import fs from 'node:fs';
const db = process.argv[2];
const which = process.argv[3];
if (!db || !['gc', 'rsi'].includes(which)) {
  console.error('usage: node peer_screens.mjs DB gc|rsi [OUT]');
  process.exit(2);
}
const years = fs.readdirSync(db).filter(y => /^\d{4}$/.test(y)).sort();
const newestYear = years[years.length - 1];
const days = fs.readdirSync(`${db}/${newestYear}/data_d`).filter(f => /^\d{8}\.csv$/.test(f)).sort();
const latest = days[days.length - 1].slice(0, 8);
const inst = await DuckDBInstance.create(':memory:');
const con = await inst.connect();
const opts = `header=false, skip=1, all_varchar=true, ignore_errors=true, filename=true, auto_detect=false, columns={'c0':'VARCHAR','c1':'VARCHAR','c2':'VARCHAR','c3':'VARCHAR','c4':'VARCHAR','c5':'VARCHAR'}`;
const base = `
WITH raw AS (
  SELECT regexp_extract(filename, '([0-9A-Za-z]{4})\\.csv$', 1) AS code, CAST(c0 AS INTEGER) AS d,
         CAST(c4 AS DOUBLE) AS c, CAST(c5 AS DOUBLE) AS v
  FROM read_csv('${db}/*/data_m/*.csv', ${opts})
),
corr AS (
  SELECT regexp_extract(filename, '([0-9A-Za-z]{4})\\.csv$', 1) AS code, CAST(c0 AS INTEGER) AS d,
         CAST(c1 AS DOUBLE) / CAST(c2 AS DOUBLE) AS f
  FROM read_csv('${db}/*/data_mh/*.csv', header=false, skip=1, all_varchar=true, ignore_errors=true, filename=true, auto_detect=false, columns={'c0':'VARCHAR','c1':'VARCHAR','c2':'VARCHAR'})
  WHERE CAST(c0 AS INTEGER) <= ${latest}
),
bars AS (
  SELECT r.code, r.d, r.c * coalesce(product(k.f), 1) AS c
  FROM raw r LEFT JOIN corr k ON k.code = r.code AND k.d > r.d
  WHERE r.v > 0 AND r.d <= ${latest} AND r.code IN (SELECT code FROM raw WHERE d = ${latest})
  GROUP BY r.code, r.d, r.c
),
numbered AS (
  SELECT code, d, c, row_number() OVER (PARTITION BY code ORDER BY d DESC) - 1 AS k FROM bars
)`;
const q = {
  gc: base + `,
recent AS (SELECT * FROM numbered WHERE k < 60),
ma AS (
  SELECT code, k,
    avg(c) OVER (PARTITION BY code ORDER BY k ROWS BETWEEN CURRENT ROW AND 24 FOLLOWING) AS a,
    avg(c) OVER (PARTITION BY code ORDER BY k ROWS BETWEEN CURRENT ROW AND 49 FOLLOWING) AS b,
    count(*) OVER (PARTITION BY code) AS n
  FROM recent
),
x AS (
  SELECT code, k, a > b AND lead(a) OVER w <= lead(b) OVER w AS xo, n FROM ma
  WINDOW w AS (PARTITION BY code ORDER BY k)
)
SELECT code FROM x WHERE n >= 60 AND k < 10 GROUP BY code HAVING bool_or(xo) ORDER BY code`,
  rsi: base + `,
recent AS (SELECT * FROM numbered WHERE k < 15),
ch AS (SELECT code, c - lead(c) OVER (PARTITION BY code ORDER BY k) AS x, count(*) OVER (PARTITION BY code) AS n FROM recent)
SELECT code FROM ch WHERE n >= 15 AND x IS NOT NULL GROUP BY code
HAVING sum(greatest(x,0)) + sum(greatest(-x,0)) > 0 AND 100 * sum(greatest(x,0)) / (sum(greatest(x,0)) + sum(greatest(-x,0))) <= 30 ORDER BY code`,
};
const reader = await con.runAndReadAll(q[which]);
const rows = reader.getRows();
console.log(rows.length);
if (process.argv[4]) fs.writeFileSync(process.argv[4], rows.map(r => r[0]).join('\n') + '\n');
