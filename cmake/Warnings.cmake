function(zrn_set_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual -Werror)
  # g++ 12's flow-based warnings misfire inside libstdc++ once vector and
  # string code is inlined at -O2 and above (GCC bugs 105329, 105545, 106199):
  # they stay visible as warnings but do not fail optimised builds.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
    target_compile_options(${target} PRIVATE
      $<$<NOT:$<CONFIG:Debug>>:-Wno-error=array-bounds -Wno-error=restrict
      -Wno-error=stringop-overflow -Wno-error=stringop-overread>)
  endif()
endfunction()
