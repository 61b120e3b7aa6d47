# Run by `cmake --install` (see data/CMakeLists.txt) with VORN_SOURCE_DIR and
# VORN_BINARY_DIR set: installs vornd.conf, the type and conversion rules and
# the document root, and creates the directories the scheduler writes to,
# all for the prefix of this install. file(INSTALL) puts DESTDIR in front of
# every destination; the directories made here get it by hand.
include("${VORN_SOURCE_DIR}/cmake/VornHelpers.cmake")
vorn_layout("${CMAKE_INSTALL_PREFIX}")
set(stage "$ENV{DESTDIR}")

# vornd.conf names the paths of this install, so it also serves a vornd
# started with -c from a prefix other than the one it was built for. An
# existing vornd.conf is the administrator's: it stays, and the new one is
# left beside it as vornd.conf.default.
set(VORN_PREFIX "${CMAKE_INSTALL_PREFIX}")
configure_file("${VORN_SOURCE_DIR}/data/vornd.conf.in" "${VORN_BINARY_DIR}/data/vornd.conf" @ONLY)
file(INSTALL "${VORN_BINARY_DIR}/data/vornd.conf" DESTINATION "${VORN_SERVERROOT}"
     RENAME vornd.conf.default PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)
if(EXISTS "${stage}${VORN_SERVERROOT}/vornd.conf")
  message(STATUS "Keeping: ${stage}${VORN_SERVERROOT}/vornd.conf (the new one is vornd.conf.default)")
else()
  file(INSTALL "${VORN_BINARY_DIR}/data/vornd.conf" DESTINATION "${VORN_SERVERROOT}"
       PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ)
endif()

file(GLOB rules "${VORN_SOURCE_DIR}/data/*.types" "${VORN_SOURCE_DIR}/data/*.convs")
file(INSTALL ${rules} DESTINATION "${VORN_SERVERROOT}")
file(INSTALL "${VORN_SOURCE_DIR}/data/doc/" DESTINATION "${VORN_DOCROOT}")
# The PPD files of our own models, listed by the driver catalogue.
file(INSTALL "${VORN_SOURCE_DIR}/data/model/" DESTINATION "${VORN_DATADIR}/model")

# Modes as the scheduler sets them at start-up, which also sets the owners
# and the sticky bit of the spool's tmp (CMake cannot).
foreach(entry
    "${VORN_SERVERROOT}/ppd=OWNER_READ;OWNER_WRITE;OWNER_EXECUTE;GROUP_READ;GROUP_EXECUTE;WORLD_READ;WORLD_EXECUTE"
    "${VORN_SERVERROOT}/certs=OWNER_READ;OWNER_WRITE;OWNER_EXECUTE;GROUP_EXECUTE;WORLD_EXECUTE"
    "${VORN_SERVERROOT}/ssl=OWNER_READ;OWNER_WRITE;OWNER_EXECUTE"
    "${VORN_DATADIR}=OWNER_READ;OWNER_WRITE;OWNER_EXECUTE;GROUP_READ;GROUP_EXECUTE;WORLD_READ;WORLD_EXECUTE"
    "${VORN_REQUESTS}=OWNER_READ;OWNER_WRITE;OWNER_EXECUTE;GROUP_EXECUTE"
    "${VORN_REQUESTS}/tmp=OWNER_READ;OWNER_WRITE;OWNER_EXECUTE;GROUP_READ;GROUP_WRITE;GROUP_EXECUTE"
    "${VORN_LOGDIR}=OWNER_READ;OWNER_WRITE;OWNER_EXECUTE;GROUP_READ;GROUP_EXECUTE;WORLD_READ;WORLD_EXECUTE")
  string(REGEX MATCH "^[^=]*" dir "${entry}")
  string(REGEX REPLACE "^[^=]*=" "" permissions "${entry}")
  message(STATUS "Directory: ${stage}${dir}")
  file(MAKE_DIRECTORY "${stage}${dir}")
  file(CHMOD "${stage}${dir}" DIRECTORY_PERMISSIONS ${permissions})
endforeach()

# textconv's glyph names, character sets and fonts, built with the programs.
if(EXISTS "${VORN_BINARY_DIR}/textconv-data")
  file(INSTALL "${VORN_BINARY_DIR}/textconv-data/" DESTINATION "${VORN_DATADIR}")
endif()
