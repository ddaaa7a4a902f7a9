# Turns one scdoc source into a compressed manual page: cmake -DSCDOC=... -DGZIP=... -DSOURCE=... -DPAGE=...
# [-DSOURCE_DATE_EPOCH=...] -P make-man-page.cmake. The page's date is the release date, not the build's.
if(SOURCE_DATE_EPOCH)
    set(ENV{SOURCE_DATE_EPOCH} "${SOURCE_DATE_EPOCH}")
endif()
execute_process(COMMAND "${SCDOC}" INPUT_FILE "${SOURCE}" OUTPUT_FILE "${PAGE}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    file(REMOVE "${PAGE}")
    message(FATAL_ERROR "scdoc failed on ${SOURCE}")
endif()
# Best compression and no name or time stamp in the header, as Debian wants manual pages.
execute_process(COMMAND "${GZIP}" -9 -n -c "${PAGE}" OUTPUT_FILE "${PAGE}.gz" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    file(REMOVE "${PAGE}.gz")
    message(FATAL_ERROR "gzip failed on ${PAGE}")
endif()
