#!/usr/bin/env bash
# Names in the tree say what the code does, not where a requirement was written down:
# fails when a source, test or script file uses such a word as a name.
set -eu
cd "$(dirname "$0")/.."
word='[Ss]''pec'
piece='piece''-0'
hits=$(git ls-files -- '*.cpp' '*.h' '*.c' '*.cmake' 'CMakeLists.txt' '*.sh' '*.xrc' 2>/dev/null |
  xargs -r grep -nE "(\b|_)${word}(s|Examples|Example)?\b|${word}[A-Z]|[a-z]${word}\b|${piece}" || true)
if [ -n "$hits" ]; then
  echo "$hits"
  exit 1
fi
