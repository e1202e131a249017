# The web build: emcmake cmake -S . -B build-web && cmake --build build-web
#
# build-web/web/ is the whole game as static files for any host: index.html,
# kiv.webmanifest, the service worker kiv-sw.js, and kiv.js, kiv.wasm,
# kiv.data (the pictures and sounds), kiv.css, kiv-clock.js (the game's clock
# in a hidden tab) and the icons, each named by its content
# (cmake/web_release.cmake). The linker writes into build-web/stage/.
# kiv_replay runs the recorded games under node, and the browser test plays
# the page in headless Chromium.
if(NOT CMAKE_BUILD_TYPE STREQUAL "Release")
  message(STATUS "The web build is meant to be built as Release")
endif()

set(KIV_WEB_OUT ${CMAKE_BINARY_DIR}/web)
# The sound library is part of every program linked with the web build.
set(KIV_WEB_LIBRARY "SHELL:--js-library ${CMAKE_SOURCE_DIR}/src/platform/web/audio.js")
set(KIV_PAGE_SCRIPTS page inplay replays board howto names daily tickets stream games live app)

# The page tells the board its rules version when it asks for a ticket, before
# the game has loaded: the build writes it into a script of its own.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/replay/format.h)
file(STRINGS ${CMAKE_SOURCE_DIR}/src/replay/format.h KIV_RULES_LINE REGEX "^constexpr int RULES_VERSION = [0-9]+;$")
string(REGEX MATCH "[0-9]+" KIV_RULES_VERSION "${KIV_RULES_LINE}")
if(NOT KIV_RULES_VERSION)
  message(FATAL_ERROR "src/replay/format.h names no RULES_VERSION")
endif()
file(WRITE ${CMAKE_BINARY_DIR}/rules.js "// The game's rules version (src/replay/format.h), written by the build.\n"
  "Module['kivRulesVersion'] = ${KIV_RULES_VERSION};\n")

# A page of the game in the folder `out`: the program from `sources`, the
# page's scripts, the pictures and sounds, and its static files.
function(kiv_web_page target out)
  get_filename_component(stage ${out} NAME)
  set(stage ${CMAKE_BINARY_DIR}/stage/${stage})
  add_executable(${target} ${ARGN})
  target_link_libraries(${target} PRIVATE kiv_core)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${stage} OUTPUT_NAME kiv)
  target_link_options(${target} PRIVATE -sENVIRONMENT=web -sEXIT_RUNTIME=1 -sINITIAL_MEMORY=33554432 -sSTB_IMAGE=1
    ${KIV_WEB_LIBRARY}
    "SHELL:--preload-file ${CMAKE_SOURCE_DIR}/images@/images"
    "SHELL:--preload-file ${CMAKE_SOURCE_DIR}/sounds@/sounds")
  file(GLOB icons ${CMAKE_SOURCE_DIR}/web/icons/*.png)
  set(depends ${CMAKE_SOURCE_DIR}/src/platform/web/audio.js ${CMAKE_SOURCE_DIR}/web/index.html
    ${CMAKE_SOURCE_DIR}/web/kiv.css ${CMAKE_SOURCE_DIR}/web/kiv.webmanifest ${CMAKE_SOURCE_DIR}/src/platform/web/clock.js
    ${CMAKE_SOURCE_DIR}/src/platform/web/sw.js ${CMAKE_BINARY_DIR}/rules.js ${icons})
  target_link_options(${target} PRIVATE "SHELL:--pre-js ${CMAKE_BINARY_DIR}/rules.js")
  foreach(script ${KIV_PAGE_SCRIPTS})
    target_link_options(${target} PRIVATE "SHELL:--pre-js ${CMAKE_SOURCE_DIR}/src/platform/web/${script}.js")
    list(APPEND depends ${CMAKE_SOURCE_DIR}/src/platform/web/${script}.js)
  endforeach()
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${depends})
  configure_file(${CMAKE_SOURCE_DIR}/web/index.html ${stage}/index.html COPYONLY)
  configure_file(${CMAKE_SOURCE_DIR}/web/kiv.css ${stage}/kiv.css COPYONLY)
  configure_file(${CMAKE_SOURCE_DIR}/web/kiv.webmanifest ${stage}/kiv.webmanifest COPYONLY)
  configure_file(${CMAKE_SOURCE_DIR}/src/platform/web/sw.js ${stage}/sw.js COPYONLY)
  # The Worker whose timer drives a game in a hidden tab.
  configure_file(${CMAKE_SOURCE_DIR}/src/platform/web/clock.js ${stage}/kiv-clock.js COPYONLY)
  file(MAKE_DIRECTORY ${out})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DSTAGE=${stage} -DICONS=${CMAKE_SOURCE_DIR}/web/icons -DOUT=${out}
      -P ${CMAKE_SOURCE_DIR}/cmake/web_release.cmake
    COMMENT "Naming the files of ${out} by their content"
    VERBATIM)
endfunction()

kiv_web_page(kiv ${KIV_WEB_OUT} src/frame/main.cpp)

include(CTest)
if(BUILD_TESTING)
  add_executable(kiv_replay ${CMAKE_SOURCE_DIR}/tests/replay/replay.cpp ${CMAKE_SOURCE_DIR}/tools/bot/bot.cpp
    ${CMAKE_SOURCE_DIR}/tests/web/replay_file.cpp)
  target_link_libraries(kiv_replay PRIVATE kiv_core)
  target_link_options(kiv_replay PRIVATE -sENVIRONMENT=node -sNODERAWFS=1 -sEXIT_RUNTIME=1 -sSTB_IMAGE=1
    -sWASM_ASYNC_COMPILATION=0 -sINITIAL_MEMORY=33554432 -sALLOW_MEMORY_GROWTH=1 ${KIV_WEB_LIBRARY})
  # The page with the test bot at the mouse (build-web/web-bot/).
  kiv_web_page(kiv_bot_page ${CMAKE_BINARY_DIR}/web-bot src/frame/main.cpp tests/web/bot_page.cpp
    tools/bot/bot.cpp)
  include(${CMAKE_SOURCE_DIR}/tests/web/tests.cmake)
endif()
