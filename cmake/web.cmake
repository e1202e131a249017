# The web build: emcmake cmake -S . -B build-web && cmake --build build-web
#
# build-web/web/ is the whole game as static files: index.html, kiv.css,
# kiv.js, kiv.wasm, kiv.data (the pictures and sounds) and kiv-clock.js (the
# game's clock in a hidden tab), for any static host.
# kiv_replay runs the recorded games under node, and the browser test plays
# the page in headless Chromium.
if(NOT CMAKE_BUILD_TYPE STREQUAL "Release")
  message(STATUS "The web build is meant to be built as Release")
endif()

set(KIV_WEB_OUT ${CMAKE_BINARY_DIR}/web)
add_executable(kiv src/frame/main.cpp)
target_link_libraries(kiv PRIVATE kiv_core)
set_target_properties(kiv PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KIV_WEB_OUT})
# The sound library is part of every program linked with the web build.
set(KIV_WEB_LIBRARY "SHELL:--js-library ${CMAKE_SOURCE_DIR}/src/platform/web/audio.js")
target_link_options(kiv PRIVATE -sENVIRONMENT=web -sEXIT_RUNTIME=1 -sINITIAL_MEMORY=33554432 -sSTB_IMAGE=1 ${KIV_WEB_LIBRARY}
  "SHELL:--pre-js ${CMAKE_SOURCE_DIR}/src/platform/web/page.js"
  "SHELL:--pre-js ${CMAKE_SOURCE_DIR}/src/platform/web/replays.js"
  "SHELL:--pre-js ${CMAKE_SOURCE_DIR}/src/platform/web/board.js"
  "SHELL:--pre-js ${CMAKE_SOURCE_DIR}/src/platform/web/names.js"
  "SHELL:--pre-js ${CMAKE_SOURCE_DIR}/src/platform/web/tickets.js"
  "SHELL:--pre-js ${CMAKE_SOURCE_DIR}/src/platform/web/games.js"
  "SHELL:--preload-file ${CMAKE_SOURCE_DIR}/images@/images"
  "SHELL:--preload-file ${CMAKE_SOURCE_DIR}/sounds@/sounds")
set_property(TARGET kiv APPEND PROPERTY LINK_DEPENDS
  ${CMAKE_SOURCE_DIR}/src/platform/web/audio.js ${CMAKE_SOURCE_DIR}/src/platform/web/page.js
  ${CMAKE_SOURCE_DIR}/src/platform/web/replays.js ${CMAKE_SOURCE_DIR}/src/platform/web/board.js
  ${CMAKE_SOURCE_DIR}/src/platform/web/names.js ${CMAKE_SOURCE_DIR}/src/platform/web/tickets.js
  ${CMAKE_SOURCE_DIR}/src/platform/web/games.js
  ${CMAKE_SOURCE_DIR}/web/index.html)
configure_file(${CMAKE_SOURCE_DIR}/web/index.html ${KIV_WEB_OUT}/index.html COPYONLY)
configure_file(${CMAKE_SOURCE_DIR}/web/kiv.css ${KIV_WEB_OUT}/kiv.css COPYONLY)
# The Worker whose timer drives a game in a hidden tab.
configure_file(${CMAKE_SOURCE_DIR}/src/platform/web/clock.js ${KIV_WEB_OUT}/kiv-clock.js COPYONLY)

include(CTest)
if(BUILD_TESTING)
  add_executable(kiv_replay ${CMAKE_SOURCE_DIR}/tests/replay/replay.cpp ${CMAKE_SOURCE_DIR}/tests/replay/bot.cpp
    ${CMAKE_SOURCE_DIR}/tests/web/replay_file.cpp)
  target_link_libraries(kiv_replay PRIVATE kiv_core)
  target_link_options(kiv_replay PRIVATE -sENVIRONMENT=node -sNODERAWFS=1 -sEXIT_RUNTIME=1 -sSTB_IMAGE=1
    -sWASM_ASYNC_COMPILATION=0 -sINITIAL_MEMORY=33554432 -sALLOW_MEMORY_GROWTH=1 ${KIV_WEB_LIBRARY})
  include(${CMAKE_SOURCE_DIR}/tests/web/tests.cmake)
endif()
