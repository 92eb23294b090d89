#!/usr/bin/env bash
# The layers, checked on the sources: the model code (every folder but app/, widgets/ and the ui folders)
# includes no header of Qt's GUI modules; only the files of a sound backend's folder include its C library's
# headers (platform/sound/pulse/ PulseAudio's, platform/sound/alsa/ ALSA's); and no library outside
# platform/sound/ includes a backend's own header, which is private to the sound library.
#   check-layers.sh SOURCE_DIR QT_INCLUDE_DIR
# Prints each include that breaks a rule and exits 1 when there is one.
set -u
src=$1
qt=$2
cd "$src" || exit 2

gui_modules=(QtGui QtWidgets QtPrintSupport QtSvg QtSvgWidgets QtOpenGL QtOpenGLWidgets)
# resources/RenderIcon.cpp is the build's icon renderer, a program of its own that draws with Qt Svg.
model_files() {
    git ls-files -- '*.h' '*.cpp' 2>/dev/null | grep -vE '^(app|widgets|tests|bench|build)/|(^|/)ui/|^resources/RenderIcon\.cpp$' ||
        find . -name '*.h' -o -name '*.cpp' | sed 's|^\./||' | grep -vE '^(app|widgets|tests|bench|build)/|(^|/)ui/|^resources/RenderIcon\.cpp$'
}

# The backend family whose C library a header belongs to, or nothing.
header_family() {
    case $1 in
    pulse/*) echo pulse ;;
    alsa/* | asoundlib.h) echo alsa ;;
    esac
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
        family=$(header_family "$header")
        if [ -n "$family" ] && [[ $file != platform/sound/$family/* ]]; then
            echo "$file:${line%%:*}: <$header> outside platform/sound/$family/"
            broken=1
        fi
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<' "$file")
    if [[ $file != platform/sound/* ]]; then
        while IFS= read -r line; do
            echo "$file:${line%%:*}: a sound backend's own header outside platform/sound/ (use Backends.h)"
            broken=1
        done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"platform/sound/(pulse|alsa|virtual)/' "$file")
    fi
done < <(model_files)

if [ "$checked" -eq 0 ]; then
    echo "check-layers: no source file found under $src" >&2
    exit 2
fi
[ "$broken" -eq 0 ] && echo "check-layers: $checked model files, no include across a layer"
exit $broken
