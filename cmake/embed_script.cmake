# Writes INPUT into OUTPUT as a C++ string the layer reads its dialogs from.
file(READ ${INPUT} text)
file(WRITE ${OUTPUT} "// Generated from the resource script; do not edit.\n"
  "namespace port {\nextern const char *const kResourceScript;\n"
  "const char *const kResourceScript = R\"rc(${text})rc\";\n}\n")
