# Sources are collected per folder so that a new concern is a new file and
# nothing else. CONFIGURE_DEPENDS makes a rebuild notice added files.
function(ob_sources out dir)
  file(GLOB found CONFIGURE_DEPENDS "${dir}/*.cpp")
  list(FILTER found EXCLUDE REGEX "/main\\.cpp$")
  set(${out} ${found} PARENT_SCOPE)
endfunction()
