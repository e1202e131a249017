# The web build's tests: the recorded games replayed under node to the same
# fingerprints as on the desktop, and the page played in headless Chromium.
file(GLOB KIV_RECORDINGS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/replays/*.rec)
foreach(recording ${KIV_RECORDINGS})
  get_filename_component(name ${recording} NAME_WE)
  add_test(NAME web_replay_${name} COMMAND kiv_replay check ${recording} WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
endforeach()
