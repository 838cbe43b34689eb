# Installs the reference VT engine (the npm package @xterm/headless, at
# the version package.json names) into DIR for test_vt_reference. Without
# npm, or when the install fails, that test skips and says why.
#   cmake -DPACKAGE=<package.json> -DDIR=<directory> -P InstallReference.cmake
file(READ "${PACKAGE}" wanted)
if(EXISTS "${DIR}/package.json" AND EXISTS "${DIR}/node_modules/@xterm/headless/package.json")
    file(READ "${DIR}/package.json" installed)
    if(installed STREQUAL wanted)
        return()
    endif()
endif()
find_program(NPM npm)
if(NOT NPM)
    message(WARNING "npm is not installed: test_vt_reference will skip "
        "(scripts/install-deps.sh installs nodejs and npm)")
    return()
endif()
file(MAKE_DIRECTORY "${DIR}")
file(WRITE "${DIR}/package.json" "${wanted}")
execute_process(COMMAND "${NPM}" install --no-audit --no-fund --loglevel=error
    WORKING_DIRECTORY "${DIR}" RESULT_VARIABLE result TIMEOUT 600)
if(NOT result EQUAL 0)
    file(REMOVE "${DIR}/package.json")
    message(WARNING "npm install of @xterm/headless failed (${result}): "
        "test_vt_reference will skip")
endif()
