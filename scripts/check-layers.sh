#!/usr/bin/env bash
# The layers, checked on the sources: the model code (every folder but app/ and the ui folders) includes no
# header of Qt's GUI modules, and only the sound backends include the PulseAudio and ALSA headers.
#   check-layers.sh SOURCE_DIR QT_INCLUDE_DIR
# Prints each include that breaks a rule and exits 1 when there is one.
set -u
src=$1
qt=$2
cd "$src" || exit 2

gui_modules=(QtGui QtWidgets QtPrintSupport QtSvg QtSvgWidgets QtOpenGL QtOpenGLWidgets)
model_files() {
    git ls-files -- '*.h' '*.cpp' 2>/dev/null | grep -vE '^(app|tests|bench|build)/|(^|/)ui/' ||
        find . -name '*.h' -o -name '*.cpp' | sed 's|^\./||' | grep -vE '^(app|tests|bench|build)/|(^|/)ui/'
}

# A sound backend: a file of the PulseAudio or ALSA family, by its folder or its name.
is_backend() {
    case $1 in
    */pulse/* | */alsa/* | */Pulse* | */Alsa*) return 0 ;;
    esac
    return 1
}

broken=0
checked=0
while IFS= read -r file; do
    checked=$((checked + 1))
    while IFS= read -r line; do
        header=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*<([^>]+)>.*/\1/' <<<"${line#*:}")
        module=${header%%/*}
        name=${header##*/}
        for gui in "${gui_modules[@]}"; do
            if [ "$module" = "$gui" ] || { [ "$module" = "$header" ] && [ -e "$qt/$gui/$name" ]; }; then
                echo "$file:${line%%:*}: the model code includes <$header>, a header of $gui"
                broken=1
            fi
        done
        case $header in
        pulse/* | alsa/* | asoundlib.h)
            if ! is_backend "$file"; then
                echo "$file:${line%%:*}: <$header> outside the sound backends"
                broken=1
            fi
            ;;
        esac
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<' "$file")
done < <(model_files)

if [ "$checked" -eq 0 ]; then
    echo "check-layers: no source file found under $src" >&2
    exit 2
fi
[ "$broken" -eq 0 ] && echo "check-layers: $checked model files, no include across a layer"
exit $broken
