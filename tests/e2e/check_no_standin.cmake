# The stand-in is test code: the production helper must not contain it, and
# must reach the real profile service. The winetest build is the control.
#   cmake -DPRODUCTION=<exe> -DWINETEST=<exe> -P check_no_standin.cmake
foreach(exe PRODUCTION WINETEST)
  file(STRINGS ${${exe}} ${exe}_MARK ENCODING UTF-16LE REGEX "zub-sandbox-helper-winetest")
endforeach()
file(STRINGS ${PRODUCTION} PRODUCTION_IMPORT REGEX "CreateAppContainerProfile")
if(PRODUCTION_MARK)
  message(FATAL_ERROR "${PRODUCTION} contains the Wine stand-in")
endif()
if(NOT WINETEST_MARK)
  message(FATAL_ERROR "${WINETEST} lacks the stand-in: the check itself is broken")
endif()
if(NOT PRODUCTION_IMPORT)
  message(FATAL_ERROR "${PRODUCTION} does not import CreateAppContainerProfile")
endif()
