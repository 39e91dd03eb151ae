#!/usr/bin/env bash
# The status word's bits are named once (engine/AppStatus.h) and used by name: fails when
# the program's code tests, sets or defines status bits with bare numbers.
#   check-status-bits.sh              check the tree
#   check-status-bits.sh --self-test  show that the check tells bare masks from named bits
set -eu
cd "$(dirname "$0")/.."

# A number beside AppStatus or beside a status word being masked or compared
# (status & 3, c.status == 0x200, Status() & 1), or a status-bit constant of its own.
bare='AppStatus[^;]*\b(0x[0-9A-Fa-f]+|[1-9][0-9]*)u?\b'
bare+='|[sS]tatus(\(\))?[ )]*(&|\||==|!=)=? *\(?(0x[0-9A-Fa-f]+|[1-9][0-9]*)u?\b'
bare+='|(kStatus|APPSTATUS_)[A-Za-z_]* *= *(0x|[0-9])'

# Lines of the given files that use bare masks; comments are not code.
findings() {
  grep -nHE "$bare" "$@" 2>/dev/null | grep -vE '^[^:]+:[0-9]+: *//' || true
}

if [ "${1:-}" = "--self-test" ]; then
  dir=$(mktemp -d)
  trap 'rm -rf "$dir"' EXIT
  cat >"$dir/bad.cpp" <<'EOF'
  if (AppStatus.load() & 1) return;
  AppStatus.fetch_and(~0x1F0u);
  const bool blocked = (c.status & 0x300) != 0;
  const bool scanning = (host_.Status() & 3) == 1;
  AppStatus.store((AppStatus.load() & ~0xF0u) | 0x10u);
inline constexpr uint32_t APPSTATUS_BUSY = 0x100;
constexpr uint32_t kStatusJoinCanvas = 0x10000000;
EOF
  cat >"$dir/good.cpp" <<'EOF'
  if (IsScanning()) return;
  ClearStatus(StatusBit::DisplayField | StatusBit::Opening);
  const bool blocked = HasStatus(c.status, StatusBit::Busy);
  AppStatus.store(0);
  // AppStatus bit 0x20000000 while the file is decoded
EOF
  bad_lines=$(wc -l <"$dir/bad.cpp")
  found_bad=$(findings "$dir/bad.cpp" | wc -l)
  found_good=$(findings "$dir/good.cpp")
  if [ "$found_bad" -ne "$bad_lines" ] || [ -n "$found_good" ]; then
    echo "bare masks found: $found_bad of $bad_lines; in named uses: ${found_good:-none}"
    exit 1
  fi
  echo "ok: $found_bad bare masks found, none in named uses"
  exit 0
fi

files=$(git ls-files -- 'app/*.cpp' 'app/*.h' 'scanning/*.cpp' 'scanning/*.h' 'tools/*.cpp' 'tools/*.h' \
        'common/*.cpp' 'common/*.h' 'engine/*.cpp' 'engine/*.h' | grep -v '^engine/AppStatus\.h$' || true)
hits=$(findings $files)
if [ -n "$hits" ]; then
  echo "status bits by number (name them in engine/AppStatus.h):"
  echo "$hits"
  exit 1
fi
