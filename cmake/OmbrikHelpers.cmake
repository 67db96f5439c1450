# ombrik_library(NAME DIR [DEPS ...]): a static library of every .cpp in DIR (not recursive).
# A folder with headers only gives an interface library.
function(ombrik_library name dir)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# ombrik_program_allocator(TARGET): a program takes mimalloc's malloc in place of the C
# library's. Messages are parsed on worker threads and freed by the writer, and GMime makes and
# frees many small objects per message: glibc's allocator spent a third of a PST export's time
# there, and more with every thread. Linked first, so that it is the malloc every library calls.
function(ombrik_program_allocator target)
  if(OMBRIK_MIMALLOC AND NOT OMBRIK_SANITIZE)
    target_link_libraries(${target} PRIVATE -Wl,--push-state,--no-as-needed mimalloc -Wl,--pop-state)
  endif()
endfunction()
