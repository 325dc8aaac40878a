# Warnings for our own targets only; third-party headers come in as system includes.
add_library(ab_warnings INTERFACE)
target_compile_options(ab_warnings INTERFACE -Wall -Wextra -Wpedantic
  -Wnon-virtual-dtor -Wcast-align -Woverloaded-virtual)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  target_compile_options(ab_warnings INTERFACE -Wthread-safety -Wshadow-uncaptured-local)
else()
  target_compile_options(ab_warnings INTERFACE -Wshadow=local)
endif()

# ab_library(<name> [DEPS ...]): a library from every .cc in the current folder.
function(ab_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ab_warnings)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()
