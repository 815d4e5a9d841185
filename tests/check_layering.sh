#!/bin/sh
# Only media/ may include SDL, GL, OpenAL, libpng, FreeType, Vorbis or sockets.
cd "$1" || exit 2
bad=$(grep -lE '#include *<(SDL|GL/|AL/|png\.h|ft2build|freetype|vorbis|ogg/|sys/socket|netdb|arpa/)' \
      flow/*.cpp flow/*.h world/*.cpp world/*.h scores/*.cpp scores/*.h replay/*.cpp replay/*.h 2>/dev/null)
if [ -n "$bad" ]; then echo "system headers outside media/: $bad"; exit 1; fi
echo "layering ok"
