# Runs the icon generator into an empty folder and fails unless it writes
# exactly the .ico files kept in the assets folder, byte for byte.
# Usage: cmake -DGENERATOR=<make_icons> -DOUTPUT=<folder> -DASSETS=<assets folder> -P compare_icons.cmake
file(REMOVE_RECURSE ${OUTPUT})
file(MAKE_DIRECTORY ${OUTPUT})
execute_process(COMMAND ${GENERATOR} ${OUTPUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${GENERATOR} failed: ${result}")
endif()

file(GLOB drawn RELATIVE ${OUTPUT} ${OUTPUT}/*.ico)
file(GLOB kept RELATIVE ${ASSETS} ${ASSETS}/*.ico)
list(SORT drawn)
list(SORT kept)
if(NOT drawn STREQUAL kept)
    message(FATAL_ERROR "generator writes [${drawn}] but assets hold [${kept}]")
endif()
list(LENGTH drawn count)
if(count EQUAL 0)
    message(FATAL_ERROR "generator wrote no icons")
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
    message(FATAL_ERROR "regenerated icons differ from assets: ${differing}")
endif()
message(STATUS "${count} icons regenerate identically")
