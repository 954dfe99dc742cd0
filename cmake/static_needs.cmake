# A static library's archive names none of the libraries it needs itself:
# ob_static_needs(TARGET LIBS...) adds their archives (LIBS without lib and
# .a, found in the sysroot) to what the imported TARGET brings to a link.
function(ob_static_needs target)
  set(needs "")
  foreach(lib IN LISTS ARGN)
    find_library(OB_${lib}_ARCHIVE NAMES lib${lib}.a REQUIRED)
    list(APPEND needs "${OB_${lib}_ARCHIVE}")
  endforeach()
  set_property(TARGET ${target} APPEND PROPERTY INTERFACE_LINK_LIBRARIES ${needs})
endfunction()
