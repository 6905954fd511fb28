# What `cmake --install` puts in place, in a scratch prefix: the program (which answers
# --version), its man page, the example configuration and the saver daemon's description.
#   cmake -DBUILD_FOLDER=<build> -DVERSION=<version> -P install-test.cmake
set(prefix ${BUILD_FOLDER}/install-test)
file(REMOVE_RECURSE ${prefix})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_FOLDER} --prefix ${prefix}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${result})")
endif()

set(expected
  bin/glimmerwall
  share/man/man1/glimmerwall.1
  share/doc/glimmerwall/Glimmerwall.cfg.example
  share/xscreensaver/config/glimmerwall.xml)
foreach(file ${expected})
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

execute_process(COMMAND ${prefix}/bin/glimmerwall --version OUTPUT_VARIABLE version
                RESULT_VARIABLE result TIMEOUT 10)
if(NOT result EQUAL 0 OR NOT version STREQUAL "glimmerwall ${VERSION}\n")
  message(FATAL_ERROR "--version gave ${result}: '${version}'")
endif()

# The man page carries the version and every section a reader looks for; the example
# configuration names every key.
file(READ ${prefix}/share/man/man1/glimmerwall.1 man)
foreach(part "Glimmerwall ${VERSION}" ".SH SYNOPSIS" ".SH KEYS" ".SH CONFIGURATION" ".SH FILES"
             ".SH SAVER-WINDOW MODE" ".SH EXAMPLES")
  string(FIND "${man}" "${part}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "man page without '${part}'")
  endif()
endforeach()
file(READ ${prefix}/share/doc/glimmerwall/Glimmerwall.cfg.example example)
foreach(key path dossier sauf exclude delai cache cachemb small trace)
  if(NOT example MATCHES "\n#?${key}[ \n]")
    message(FATAL_ERROR "example configuration without the key ${key}")
  endif()
endforeach()
file(REMOVE_RECURSE ${prefix})
