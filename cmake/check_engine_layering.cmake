# Fails when a file of the engine library, every folder of src/ but binding/,
# includes Python.h.
file(GLOB_RECURSE engine_files RELATIVE ${ROOT} ${ROOT}/src/*)
list(FILTER engine_files EXCLUDE REGEX "^src/binding/")
foreach(f IN LISTS engine_files)
  file(STRINGS "${ROOT}/${f}" hits REGEX "#[ \t]*include[ \t]*[<\"]Python\\.h")
  if(hits)
    message(FATAL_ERROR "${f} includes Python.h; only src/binding may")
  endif()
endforeach()
message(STATUS "engine is free of Python.h")
