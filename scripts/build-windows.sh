#!/usr/bin/env bash
# Builds the deliverables for Windows x64 with mingw-w64 (preset windows, build/windows), every
# compiler warning an error, checks the names each module exports and runs the platform-free tests
# under wine64. Installs the cross compiler, the Windows headers and wine64 when the machine lacks
# them.
set -euo pipefail
cd "$(dirname "$0")/.."
triple=x86_64-w64-mingw32
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v python3 >/dev/null || need+=(python3)
command -v $triple-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
[ -f /usr/share/mingw-w64/include/windows.h ] || need+=(mingw-w64-x86-64-dev)
command -v $triple-windres >/dev/null || need+=(binutils-mingw-w64-x86-64)
[ -x /usr/lib/wine/wine64 ] || command -v wine64 >/dev/null || need+=(wine64)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

echo "=== build: windows"
cmake --preset windows -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build --preset windows -j "$(nproc)"

# Each module exports exactly these names; VxDmlp its export rows (DMLP_ + name).
dmlp_exports=$(grep -oE '^\s+X\([A-Za-z0-9_]+' DMLP_API/Src/VxDmlp/include/VxDmlpApi.h | sed 's/.*X(/DMLP_/')
declare -A exports=(
  [JTRKSVC2.exe]=""
  [VxDmlp.dll]="$dmlp_exports"
  [JTRKCLIB.dll]="DMLLIB_CancelJob DMLLIB_CheckDevice DMLLIB_GetClientJobID DMLLIB_GetStatusInfo DMLLIB_Initialize
                  DMLLIB_ReleaseBuff DMLLIB_ResetBind DMLLIB_SubscribeEvent DMLLIB_Terminate DMLLIB_TraceJob"
  [JTRKMON2.dll]="InitializePrintMonitor2"
  [JTRKMNUI2.dll]="InitializePrintMonitorUI JTMXAddPortSilent"
  [JTRKUtil.dll]="JTMXAddMonitor JTMXDeleteMonitor JTMXInstallPort JTMXInstallPortforReInst JTMXIsMonitorExists
                  JTMXStartService JTMXStopService JTMXToOriginalPort JTMXToSecialPort JTMXUninstallPort"
)
echo "=== exports"
# "name ordinal" of each export of a module.
exported() {
  $triple-objdump -p "$1" | awk '/^Ordinal Base/ { base = $3 }
    /^\[Ordinal\/Name Pointer\] Table/ { table = 1; next } table && /^$/ { table = 0 }
    table { gsub(/[][]/, " "); print $2, $1 + base }'
}
failed=0
for module in "${!exports[@]}"; do
  file=build/windows/bin/$module
  actual=$(exported "$file" | cut -d' ' -f1 | sort)
  expected=$(tr -s ' \n' '\n' <<<"${exports[$module]}" | sed '/^$/d' | sort)
  if [ "$actual" != "$expected" ]; then
    echo "$module: exports differ (expected < > built):"
    diff <(echo "$expected") <(echo "$actual") || true
    failed=1
  else
    echo "$module: $(grep -c . <<<"$actual" || true) exports as expected"
  fi
done
# ... and at the ordinals of its module-definition file.
declare -A definitions=([JTRKUtil.dll]=Installer/Util/JTRKUtil.def [VxDmlp.dll]=build/windows/DMLP_API/Src/VxDmlp/VxDmlp.def)
for module in "${!definitions[@]}"; do
  expected=$(sed -n 's/^\s*\([A-Za-z0-9_]*\)\s*@\([0-9]*\).*/\1 \2/p' "${definitions[$module]}" | sort)
  if [ "$(exported build/windows/bin/$module | sort)" != "$expected" ]; then
    echo "$module: ordinals differ from ${definitions[$module]}"
    failed=1
  else
    echo "$module: ordinals as in ${definitions[$module]}"
  fi
done
[ $failed -eq 0 ] || exit 1

echo "=== tests under wine: windows"
ctest --test-dir build/windows --output-on-failure -j "$(nproc)" --timeout 300
