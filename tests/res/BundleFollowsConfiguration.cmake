# Configures and builds a program with a resource bundle, then configures the same build
# folder again with another startup address and caption and builds again: each build's
# program must carry what its configuration said.
#
# cmake -DSOURCE=<source tree> -DWORK=<scratch folder> -DGENERATOR=<generator>
#       -DCC=<C compiler> -DCXX=<C++ compiler> -P BundleFollowsConfiguration.cmake
file(REMOVE_RECURSE ${WORK})

function(run what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT code EQUAL 0)
        message(FATAL_ERROR "${what} failed (${code}):\n${out}")
    endif()
    set(output "${out}" PARENT_SCOPE)
endfunction()

function(step name address caption expected)
    run("configuring (${name})" ${CMAKE_COMMAND} -S ${SOURCE}/tests/res/bundle-probe -B ${WORK}
        -G ${GENERATOR} -DCMAKE_C_COMPILER=${CC} -DCMAKE_CXX_COMPILER=${CXX}
        -DNORV_SOURCE_DIR=${SOURCE} -DPROBE_STARTUP_URI=${address} -DPROBE_CAPTION=${caption})
    run("building (${name})" ${CMAKE_COMMAND} --build ${WORK})
    run("running the program (${name})" ${WORK}/probe)
    if(NOT output STREQUAL expected)
        message(FATAL_ERROR "${name}: the program carries\n${output}instead of\n${expected}")
    endif()
endfunction()

step("first build" "https://one.example/start" "First"
     "132=https://one.example/start\n133=First\n")
step("another address" "https://two.example/start" "First"
     "132=https://two.example/start\n133=First\n")
step("another caption" "https://two.example/start" "Second"
     "132=https://two.example/start\n133=Second\n")
step("no caption" "https://two.example/start" ""
     "132=https://two.example/start\n133=(none)\n")
file(REMOVE_RECURSE ${WORK})
