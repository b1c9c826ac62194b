# pellow_embed_kit(target kit): compiles the internal static library `kit` (PrivateFiles/,
# TextKit/) into `target`'s own archive and gives it the kit's headers. For the two public
# libraries: the SDK installs and exports them alone, so an application links nothing internal,
# and no internal target has to be exported with them. An in-tree program that links one of them
# and the kit too gets each object once (an archive member is pulled only for a symbol still
# undefined).
function(pellow_embed_kit target kit)
  target_sources(${target} PRIVATE $<TARGET_OBJECTS:${kit}>)
  target_include_directories(${target} PRIVATE
                             $<TARGET_PROPERTY:${kit},INTERFACE_INCLUDE_DIRECTORIES>)
  add_dependencies(${target} ${kit})
endfunction()
