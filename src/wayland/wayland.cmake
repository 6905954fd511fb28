# The layer-shell show: a Wayland client of its own (wayland-client, xkbcommon), its protocol
# code made by wayland-scanner. Included by the Linux shell, whose display manager it shares.
enable_language(C)
pkg_check_modules(GW_WAYLAND_DEPS REQUIRED IMPORTED_TARGET wayland-client xkbcommon)
pkg_get_variable(GW_WAYLAND_PROTOCOLS wayland-protocols pkgdatadir)
find_program(GW_WAYLAND_SCANNER wayland-scanner REQUIRED)
if(NOT GW_WAYLAND_PROTOCOLS)
  message(FATAL_ERROR "wayland-protocols not found; run scripts/deps.sh run")
endif()

set(gw_wayland_src ${PROJECT_SOURCE_DIR}/src/wayland)
set(gw_wayland_gen ${CMAKE_BINARY_DIR}/wayland-protocols)
file(MAKE_DIRECTORY ${gw_wayland_gen})
set(gw_wayland_code "")
set(gw_wayland_headers "")
foreach(xml ${gw_wayland_src}/wlr-layer-shell-unstable-v1.xml
            ${GW_WAYLAND_PROTOCOLS}/stable/xdg-shell/xdg-shell.xml)
  get_filename_component(name ${xml} NAME_WE)
  add_custom_command(
    OUTPUT ${gw_wayland_gen}/${name}-client-protocol.h ${gw_wayland_gen}/${name}-protocol.c
    COMMAND ${GW_WAYLAND_SCANNER} client-header ${xml} ${gw_wayland_gen}/${name}-client-protocol.h
    COMMAND ${GW_WAYLAND_SCANNER} private-code ${xml} ${gw_wayland_gen}/${name}-protocol.c
    DEPENDS ${xml} VERBATIM)
  list(APPEND gw_wayland_headers ${gw_wayland_gen}/${name}-client-protocol.h)
  list(APPEND gw_wayland_code ${gw_wayland_gen}/${name}-protocol.c)
endforeach()
# The scanner's C, without the project's C++ warning options.
add_library(gw_wayland_protocols OBJECT ${gw_wayland_code})
set_target_properties(gw_wayland_protocols PROPERTIES COMPILE_OPTIONS "")

add_library(glimmerwall_wayland STATIC ${gw_wayland_src}/LayerShow.cpp ${gw_wayland_headers}
                                       $<TARGET_OBJECTS:gw_wayland_protocols>)
target_include_directories(glimmerwall_wayland PUBLIC ${gw_wayland_src} ${gw_wayland_gen}
                                               PRIVATE ${PROJECT_SOURCE_DIR}/src/linux)
target_link_libraries(glimmerwall_wayland PRIVATE glimmerwall_core PkgConfig::GW_SHELL_DEPS
                                                  PkgConfig::GW_WAYLAND_DEPS)
