# Writes the artwork PNGs into a C++ source file, so the program carries its pictures with it.
# cmake -DINPUT_DIR=... -DOUTPUT=... -DNAMES="a.png;b.png" -P embed-artwork.cmake
string(REPLACE "," ";" NAMES "${NAMES}")
set(body "// Generated from the artwork PNGs; do not edit.\n#include \"app/artwork_data.h\"\n\nnamespace {\n")
set(table "")
set(index 0)
foreach(name IN LISTS NAMES)
  file(READ "${INPUT_DIR}/${name}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
  string(APPEND body "const unsigned char kFile${index}[] = {\n${bytes}\n};\n")
  string(APPEND table "    {\"${name}\", kFile${index}, sizeof(kFile${index})},\n")
  math(EXPR index "${index} + 1")
endforeach()
string(APPEND body "}  // namespace\n\nconst ArtworkFile kArtworkFiles[] = {\n${table}};\n"
       "const std::size_t kArtworkFileCount = sizeof(kArtworkFiles) / sizeof(kArtworkFiles[0]);\n")
file(WRITE "${OUTPUT}.tmp" "${body}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
