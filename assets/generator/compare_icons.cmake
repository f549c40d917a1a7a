# Runs the icon generator into an empty folder and fails unless every file it
# writes is kept in the assets folder byte for byte, and the assets folder
# keeps no icon it does not write.
# Usage: cmake -DGENERATOR=<make_icons> -DOUTPUT=<folder> -DASSETS=<assets folder> -P compare_icons.cmake
file(REMOVE_RECURSE ${OUTPUT})
file(MAKE_DIRECTORY ${OUTPUT})
execute_process(COMMAND ${GENERATOR} ${OUTPUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${GENERATOR} failed: ${result}")
endif()

file(GLOB drawn RELATIVE ${OUTPUT} ${OUTPUT}/*)
file(GLOB drawn_icons RELATIVE ${OUTPUT} ${OUTPUT}/*.ico)
file(GLOB kept_icons RELATIVE ${ASSETS} ${ASSETS}/*.ico)
list(SORT drawn_icons)
list(SORT kept_icons)
if(NOT drawn_icons STREQUAL kept_icons)
    message(FATAL_ERROR "generator writes [${drawn_icons}] but assets hold [${kept_icons}]")
endif()
list(LENGTH drawn count)
if(count EQUAL 0)
    message(FATAL_ERROR "generator wrote nothing")
endif()

set(differing "")
foreach(name IN LISTS drawn)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT}/${name} ${ASSETS}/${name}
        RESULT_VARIABLE same)
    if(NOT same EQUAL 0)
        list(APPEND differing ${name})
    endif()
endforeach()
if(differing)
    message(FATAL_ERROR "regenerated files differ from assets (or are missing there): ${differing}")
endif()
message(STATUS "${count} files regenerate identically")
