# Fails when a file of the engine library includes Python.h.
file(GLOB_RECURSE engine_files
  ${ROOT}/src/parser/* ${ROOT}/src/heuristics/* ${ROOT}/src/vestle/* ${ROOT}/src/error/*)
foreach(f IN LISTS engine_files)
  file(STRINGS "${f}" hits REGEX "#[ \t]*include[ \t]*[<\"]Python\\.h")
  if(hits)
    message(FATAL_ERROR "${f} includes Python.h; only src/binding may")
  endif()
endforeach()
message(STATUS "engine is free of Python.h")
