#!/usr/bin/env bash
# Installs the build into a temporary prefix, as `cmake --install` does for a user, and runs
# what was installed: the programs, the manual pages, the desktop entry, the Python module and
# the Slurm submission (against a stand-in sbatch that records what it was asked).
# usage: tst_install.sh BUILD_DIR [PYTHON]
set -euo pipefail
build=$1
python=${2:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" > "$tmp/install.log" || { cat "$tmp/install.log"; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[[ -n $version ]] || { echo "no project version in $build/CMakeCache.txt"; exit 1; }

# A cluster node or a terminal without a display, with a desktop user's platform exported.
for program in vexa2 vexa2-recon vexa2-phantom; do
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$prefix/bin/$program" --version 2>&1) \
        || fail "$program --version exited $?: $out"
    [[ $out == "$program $version" ]] || fail "$program --version printed '$out'"
    page=$prefix/share/man/man1/$program.1
    grep -q "^\.TH ${program^^} 1 .*Vexa2 $version" "$page" 2>/dev/null || fail "no manual page $page"
    grep -qF "Usage: ${program//-/\\-}" "$page" 2>/dev/null || fail "$page does not hold the --help text"
done
grep -q '^Exec=vexa2$' "$prefix/share/applications/vexa2.desktop" 2>/dev/null \
    || fail "no desktop entry"

# The headless tools and the module stand on the core alone: no widgets, no Qt Gui, no X, no
# OpenGL, no font libraries.
widgetFree=("$prefix/bin/vexa2-recon" "$prefix/bin/vexa2-phantom" "$prefix/bin/vexa2-spectra")
[[ -n $python ]] && widgetFree+=("$prefix"/lib/python3/dist-packages/vexa2*.so)
shown='libQt6(Widgets|Gui)[^ ]*|libX11[^ ]*|libxcb[^ ]*|libGL[^ ]*|libEGL[^ ]*|libOpenGL[^ ]*|libfontconfig[^ ]*|libfreetype[^ ]*'
for binary in "${widgetFree[@]}"; do
    libs=$(ldd "$binary" 2>&1) || fail "ldd $binary: $libs"
    if grep -Eq "$shown" <<< "$libs"; then
        fail "$binary links $(grep -Eo "$shown" <<< "$libs" | sort -u | tr '\n' ' ')"
    fi
done

# A run of the installed vexa2-recon with a desktop user's platform exported and no display.
"$prefix/bin/vexa2-phantom" -o "$tmp/scan" --width 32 --height 4 -n 30 > /dev/null \
    || fail "the installed vexa2-phantom wrote no data set"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$prefix/bin/vexa2-recon" "$tmp/scan" \
    -o "$tmp/scan-recon" --cor 16 --png --dat 2>&1) || fail "the installed vexa2-recon exited $?: $out"
[[ $(ls "$tmp/scan-recon" | wc -l) == 12 ]] || fail "the installed vexa2-recon wrote $(ls "$tmp/scan-recon")"

if [[ -n $python ]]; then
    site=$prefix/lib/python3/dist-packages
    out=$(PYTHONPATH=$site "$python" -c '
import sys, numpy as np, vexa2
assert vexa2.__file__.startswith(sys.argv[1]), vexa2.__file__
theta = np.arange(16) * np.pi / 16
tomo = np.ones((16, 1, 12), np.float32)
print(vexa2.__version__, vexa2.recon(tomo, theta, 6, method="fbp").shape)
' "$site" 2>&1) || fail "the installed module: $out"
    [[ $out == "$version (1, 8, 8)" ]] || fail "the installed module printed '$out'"
fi

# The Slurm submission from the PATH finds the installed vexa2-recon and its job script.
mkdir -p "$tmp/fakebin"
cat > "$tmp/fakebin/sbatch" <<'SBATCH'
#!/usr/bin/env bash
printf '%s\n' "$@" >> "$SBATCH_LOG"
echo 4242
SBATCH
chmod +x "$tmp/fakebin/sbatch"
"$prefix/bin/vexa2-phantom" -o "$tmp/series" --width 16 --height 4 -n 8 \
    --energies 8950,9000 > /dev/null || fail "the installed vexa2-phantom wrote no series"
out=$(cd "$tmp" && SBATCH_LOG=$tmp/sbatch.log PATH=$tmp/fakebin:$prefix/bin:/usr/bin:/bin \
    vexa2-submit-series "$tmp/series" -o "$tmp/recon" --cor 8 2>&1) \
    || fail "vexa2-submit-series: $out"
recon=$(realpath "$prefix/bin/vexa2-recon")
grep -q "VEXA2_RECON=$recon," "$tmp/sbatch.log" 2>/dev/null \
    || fail "the jobs do not run the installed vexa2-recon: $(cat "$tmp/sbatch.log" 2>/dev/null)"
grep -qx "$(realpath "$prefix/share/vexa2/slurm/vexa2-series.sbatch")" "$tmp/sbatch.log" 2>/dev/null \
    || fail "the jobs do not run the installed job script"
[[ $out == *"2 energies in 2 tasks"* ]] || fail "vexa2-submit-series printed '$out'"

if [[ $failures -gt 0 ]]; then
    echo "$failures failed"
    exit 1
fi
echo "installed programs, manual pages, desktop entry, Python module and Slurm scripts work"
