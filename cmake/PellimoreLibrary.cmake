# pellimore_library(<name> [DEPS <targets>...])
#
# One static library per folder. Its public headers (every *.h in the folder
# except *_p.h) are linked into ${CMAKE_BINARY_DIR}/include/<name>/, and only
# that folder is exported; the source folder itself stays on the library's own
# include path. So another library can include "skrin.h" but never "skrin_p.h".
function(pellimore_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h)
  add_library(${name} STATIC ${sources})
  file(GLOB headers CONFIGURE_DEPENDS ${dir}/*.h)
  set(public_dir ${CMAKE_BINARY_DIR}/include/${name})
  file(REMOVE_RECURSE ${public_dir})
  file(MAKE_DIRECTORY ${public_dir})
  foreach(header IN LISTS headers)
    get_filename_component(file_name ${header} NAME)
    if(NOT file_name MATCHES "_p\\.h$")
      file(CREATE_LINK ${header} ${public_dir}/${file_name} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${name} PUBLIC ${public_dir} PRIVATE ${dir})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()
