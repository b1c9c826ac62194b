# pellow_add_loadable_module: a module that a helper loads with dlopen from its own folder.
#
#   pellow_add_loadable_module(pellow-net
#     SOURCES ModuleEntry.cc CurlTransport.cc
#     EXPORTS ${CMAKE_CURRENT_SOURCE_DIR}/exports.map
#     LIBRARIES PkgConfig::PELLOW_NET_CURL)
#
# The module is named <target>.so and built into <build>/bin beside the helpers. Only the symbols
# of its version script (the C entry point of its ABI header) are exported; everything else,
# static libraries included, stays hidden, and outside sanitizer builds the module carries its own
# copy of the C++ runtime, so that no C++ object or exception crosses the boundary. -z defs makes
# an unresolved symbol a link error rather than a failure at dlopen.
function(pellow_add_loadable_module target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "EXPORTS" "SOURCES;LIBRARIES;SYSTEM_INCLUDES")
  add_library(${target} MODULE ${arg_SOURCES})
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${target}
    SUFFIX ".so"
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS ${arg_EXPORTS})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  if(arg_SYSTEM_INCLUDES)
    # Third-party headers (GLib, GTK) are not held to the project's warning set.
    target_include_directories(${target} SYSTEM PRIVATE ${arg_SYSTEM_INCLUDES})
  endif()
  target_link_libraries(${target} PRIVATE ${arg_LIBRARIES})
  target_link_options(${target} PRIVATE -Wl,--exclude-libs,ALL -Wl,--version-script=${arg_EXPORTS})
  if(NOT PELLOW_SANITIZE)
    # Sanitizer builds keep the shared runtime and resolve the sanitizers' symbols at load time.
    target_link_options(${target} PRIVATE -static-libstdc++ -Wl,-z,defs)
  endif()
endfunction()
