// Japanese text order for names, without a locale library: the order the command line sorts
// names in, close to the desktop's ja_JP collation that the windows use.
#pragma once

#include <string>
#include <string_view>

namespace lp {

// Compares two UTF-8 names: negative, zero or positive.
//
// Level 1 compares the letters: full- and half-width forms are the same letter, katakana are
// their hiragana, small kana are their full-size kana, voiced and semi-voiced kana are their
// plain kana, and ASCII letters ignore case. Level 2 (on a tie) tells voicing and size apart,
// level 3 compares the code points as written. Letters order as their code points after the
// folding: blanks and punctuation, digits, Latin letters, kana in gojuon order, then kanji.
//
// Where it differs from ICU's ja collation: kanji follow Unicode order rather than the JIS
// reading order, and the long vowel mark "ー" sorts after the kana instead of repeating the
// vowel before it.
int compare_japanese_text(std::string_view a, std::string_view b);

}  // namespace lp
