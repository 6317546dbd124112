# cmake -DSOURCE=file -DDESTINATION=file -P CopyIfMissing.cmake
# Copies SOURCE to DESTINATION only when DESTINATION does not exist yet, so that settings
# a user edited next to a built program survive every later build and relink.
if(NOT EXISTS "${DESTINATION}")
  file(COPY_FILE "${SOURCE}" "${DESTINATION}")
endif()
