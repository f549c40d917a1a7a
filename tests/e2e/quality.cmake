# The longer end-to-end cases (quality.py): a soak of thousands of random clicks,
# the ways out of the program, eight copies started at once, and 96 to 144 dpi.
# Included by CMakeLists.txt beside it, in the session of the other cases; each
# case is a test of its own. The soak compares what the target receives with
# soak_predict, the core's own account of the same clicks.
set(E2E_QUALITY_CASES soak ways_out eight_copies high_dpi)
set(E2E_QUALITY_TIMEOUT_soak 240)
set(E2E_QUALITY_TIMEOUT_ways_out 150)
set(E2E_QUALITY_TIMEOUT_eight_copies 90)
set(E2E_QUALITY_TIMEOUT_high_dpi 180)

foreach(case ${E2E_QUALITY_CASES})
    add_test(NAME e2e_${case}
             COMMAND ${E2E_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/quality.py
                     --state ${E2E_STATE} --win32-dir ${VIMBREL_WIN32_DIR}
                     --out-dir ${CMAKE_CURRENT_BINARY_DIR} --predict $<TARGET_FILE:soak_predict>
                     ${case})
    set_tests_properties(e2e_${case} PROPERTIES
        FIXTURES_REQUIRED e2e_session RUN_SERIAL TRUE TIMEOUT ${E2E_QUALITY_TIMEOUT_${case}}
        LABELS e2e)
endforeach()
