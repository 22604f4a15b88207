# Turns one JSON document into a C++ source defining vardex::embedded::<NAME> as a
# std::string_view over its bytes. Run by the build (cmake -P) whenever the document changes.
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
file(WRITE "${OUTPUT}"
  "// Generated from ${INPUT_NAME} by cmake/embed.cmake. Do not edit.\n"
  "#include \"embedded.h\"\n"
  "namespace {\nconstexpr char kData[] = {${bytes} 0};\n}\n"
  "namespace vardex::embedded {\n"
  "const std::string_view ${NAME}(kData, sizeof kData - 1);\n"
  "}\n")
