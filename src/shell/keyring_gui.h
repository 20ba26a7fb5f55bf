// The J-Quants key in the desktop's keyring (QtKeychain), read the same way by the window and
// by lumenpick-cli, so a key saved with 「APIキー設定」 serves the timer too.
#pragma once

#include <string>

namespace lp::gui {

// The key saved in the keyring, or "" (none, or no keyring on this desktop). Waits at most a
// few seconds: a desktop without a secret service must not hold a timer run.
std::string keyring_api_key();
// Saves the key in the keyring; false when there is no keyring.
bool store_keyring_api_key(const std::string& key);

// The key in the order every program looks: $JQUANTS_API_KEY, the key file, the keyring.
// `source` names where it came from ("環境変数", the file's path, "キーリング").
std::string find_api_key_everywhere(std::string& source, std::string& error);

}  // namespace lp::gui
