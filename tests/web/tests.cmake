# The web build's tests: the recorded games replayed under node to the same
# fingerprints as on the desktop, the music and effects on a stand-in for Web
# Audio, and the page played in headless Chromium.
find_program(KIV_NODE NAMES node nodejs REQUIRED)
file(GLOB KIV_RECORDINGS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/replays/*.rec)
foreach(recording ${KIV_RECORDINGS})
  get_filename_component(name ${recording} NAME_WE)
  add_test(NAME web_replay_${name} COMMAND ${KIV_NODE} $<TARGET_FILE:kiv_replay> check ${recording}
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
endforeach()
# A test in headless Chromium: tests/web/NAME.js with the arguments given and
# its screenshots' folder last; one browser test at a time.
function(kiv_browser_test name)
  add_test(NAME web_${name} COMMAND ${KIV_NODE} ${CMAKE_SOURCE_DIR}/tests/web/${name}.js ${ARGN}
    ${CMAKE_BINARY_DIR}/e2e-artefacts/${name})
  set_tests_properties(web_${name} PROPERTIES ENVIRONMENT "NODE_PATH=${CMAKE_BINARY_DIR}/node_modules"
    TIMEOUT 300 RUN_SERIAL TRUE)
endfunction()
kiv_browser_test(browser ${KIV_WEB_OUT})
add_test(NAME web_audio COMMAND ${KIV_NODE} ${CMAKE_SOURCE_DIR}/tests/web/audio.js ${CMAKE_SOURCE_DIR})
# Without its pictures the web build stops as the desktop does.
add_test(NAME web_missing_picture COMMAND ${KIV_NODE} $<TARGET_FILE:kiv_replay> check ${CMAKE_SOURCE_DIR}/tests/replays/short.rec
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
set_tests_properties(web_missing_picture PROPERTIES PASS_REGULAR_EXPRESSION "^Unable to load: images/ball_b7.png\n$")
# Replays in the page: saved, verified by the desktop build's kiv-verify, watched.
set(KIV_VERIFY ${CMAKE_SOURCE_DIR}/build/kiv-verify CACHE FILEPATH "The desktop build's kiv-verify, for the web tests")
kiv_browser_test(replays ${KIV_WEB_OUT} ${CMAKE_SOURCE_DIR}/tests/replays ${KIV_VERIFY})
# The page against the real board server (the desktop build's kiv-board).
set(KIV_BOARD ${CMAKE_SOURCE_DIR}/build/kiv-board CACHE FILEPATH "The desktop build's kiv-board, for the web tests")
kiv_browser_test(board ${KIV_WEB_OUT} ${KIV_BOARD} ${KIV_VERIFY})
# Ranked games in a browser as players have it (hidden tabs throttled), on
# the page with the test bot at its mouse, against the real board.
kiv_browser_test(ranked ${CMAKE_BINARY_DIR}/web-bot ${KIV_BOARD})
# The page as an installed app: installable, offline, updated between games.
kiv_browser_test(app ${CMAKE_COMMAND} ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/stage/web ${KIV_BOARD})
# Daily Kiv through the page, against the real board with its clock set.
kiv_browser_test(daily ${CMAKE_BINARY_DIR}/web-bot ${KIV_BOARD})
