# zrn_module_definition(<target> <file.def>)
# Gives a DLL target its module-definition file. The .def files name the
# 32-bit stdcall symbols (Name = Name@N); 64-bit Windows has one calling
# convention and plain symbol names, so there the decorations are dropped
# and the export names and ordinals stay the same.
function(zrn_module_definition target def)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_sources(${target} PRIVATE ${def})
    return()
  endif()
  file(READ ${def} text)
  string(REGEX REPLACE "([A-Za-z_][A-Za-z0-9_]*) = [A-Za-z_][A-Za-z0-9_]*@[0-9]+" "\\1" text "${text}")
  get_filename_component(name ${def} NAME)
  set(plain ${CMAKE_CURRENT_BINARY_DIR}/${target}-${name})
  file(CONFIGURE OUTPUT ${plain} CONTENT "${text}" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
  target_sources(${target} PRIVATE ${plain})
endfunction()
