# sonalto_add_test(NAME name SOURCES ... LIBS ... [QT] [SOUND_SERVERS])
# One GoogleTest executable per library, registered once with ctest. QT: widget tests, whose main()
# (tests/QtTestMain.cpp) creates the application on the offscreen platform first. SOUND_SERVERS: a test
# of the real sound server backends, registered once per private sound server instead
# (sonalto_add_sound_server_entries).
function(sonalto_add_test)
    cmake_parse_arguments(T "QT;SOUND_SERVERS" "NAME" "SOURCES;LIBS" ${ARGN})
    if(T_QT)
        add_executable(${T_NAME} ${T_SOURCES} ${PROJECT_SOURCE_DIR}/tests/QtTestMain.cpp)
        target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} sonalto_widgets GTest::gtest Qt6::Test)
    else()
        add_executable(${T_NAME} ${T_SOURCES})
        target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
    endif()
    target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    if(T_SOUND_SERVERS)
        sonalto_add_sound_server_entries(${T_NAME})
        return()
    endif()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set_tests_properties(${T_NAME} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
        TIMEOUT 600)
endfunction()

# sonalto_add_sound_server_entries(target)
# The test executable once on each private sound server that tests/CMakeLists.txt declares: target_pulseaudio
# and target_pipewire, each started after its server's fixture and alone on that server (the tests load
# devices, change volumes and drop connections), while the other server's entries may run beside it.
function(sonalto_add_sound_server_entries target)
    foreach(server pulseaudio pipewire)
        if(server STREQUAL "pulseaudio")
            set(dir ${SONALTO_PULSE_DIR})
            set(fixture pulse_server)
        else()
            set(dir ${SONALTO_PIPEWIRE_DIR})
            set(fixture pipewire_server)
        endif()
        add_test(NAME ${target}_${server} COMMAND ${target})
        set_tests_properties(${target}_${server} PROPERTIES
            FIXTURES_REQUIRED ${fixture} RESOURCE_LOCK ${fixture} TIMEOUT 600
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen;PULSE_SERVER=unix:${dir}/native;SONALTO_TEST_PULSE_DIR=${dir};ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
    endforeach()
endfunction()
