# shellcheck shell=bash
# Sets lang to a locale whose decimal point is a comma, de_DE.UTF-8, making
# it with localedef where it is missing and the test runs as root; where it
# cannot be had, to C.UTF-8, saying so.
choose_german_locale() {
  german() { locale -a 2>/dev/null | grep -Eqix 'de_DE\.utf-?8'; }
  lang=C.UTF-8
  if ! german && ((EUID == 0)) && command -v localedef >/dev/null; then
    localedef -i de_DE -f UTF-8 de_DE.UTF-8 2>/dev/null || true
  fi
  if german; then
    lang=de_DE.UTF-8
  else
    echo "No German locale (not root, or no locale data): figures are" \
      "checked in $lang only."
  fi
}
