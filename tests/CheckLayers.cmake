# Fails when a source file includes a folder above its own layer, or when the
# platform layer or qx-target includes a Qt header that is not Qt Core's.
#   cmake -DTOP=<top of the tree> -DQT_CORE_DIR=<QtCore include dir> -P CheckLayers.cmake
# HACKING.md explains the layers; this table is the same rule.
cmake_minimum_required(VERSION 3.25)

set(allowed_platform "")
set(allowed_serial platform settings)
set(allowed_terminal platform)
set(allowed_settings platform)
set(allowed_help platform settings)
set(allowed_download platform serial settings)
set(allowed_transfer platform serial settings)
set(allowed_app platform serial terminal settings download transfer help)
set(allowed_tools platform)

set(layers platform serial terminal settings help download transfer app tools)
# The Qt Core part of settings/: the serial layer may use it, and like the
# platform layer it includes Qt Core headers only.
set(settings_model settings/Settings.h settings/Settings.cpp settings/SerialDeviceMap.h
    settings/SerialDeviceMap.cpp settings/TSettingsModel.h settings/TSettingsModel.cpp
    settings/TTransferSync.h)
set(failures "")

foreach(layer ${layers})
    # tools/previews show the application's windows and may use any layer.
    file(GLOB files ${TOP}/${layer}/*.h ${TOP}/${layer}/*.cpp)
    foreach(file ${files})
        file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
        file(RELATIVE_PATH name ${TOP} ${file})
        foreach(line ${includes})
            set(core_only FALSE)
            if(layer MATCHES "^(platform|tools)$" OR name IN_LIST settings_model)
                set(core_only TRUE)
            endif()
            if(line MATCHES "\"(([a-z]+)/[^\"]+)\"")
                set(header ${CMAKE_MATCH_1})
                set(folder ${CMAKE_MATCH_2})
                if(folder IN_LIST layers AND NOT folder STREQUAL layer
                   AND NOT folder IN_LIST allowed_${layer})
                    list(APPEND failures "${name}: ${layer} may not include ${folder}: ${line}")
                elseif(layer STREQUAL "serial" AND folder STREQUAL "settings"
                       AND NOT header IN_LIST settings_model)
                    list(APPEND failures "${name}: serial may use the settings model only: ${line}")
                elseif(name IN_LIST settings_model AND folder STREQUAL "settings"
                       AND NOT header IN_LIST settings_model)
                    list(APPEND failures "${name}: the settings model may not include a dialog: ${line}")
                endif()
            elseif(core_only AND line MATCHES "<(Q[A-Za-z]+)>")
                if(NOT EXISTS ${QT_CORE_DIR}/${CMAKE_MATCH_1})
                    list(APPEND failures "${name}: no Qt Core header: ${line}")
                endif()
            elseif(core_only AND line MATCHES "<Qt([A-Za-z]+)/")
                if(NOT CMAKE_MATCH_1 STREQUAL "Core")
                    list(APPEND failures "${name}: no Qt Core header: ${line}")
                endif()
            endif()
        endforeach()
    endforeach()
endforeach()

if(failures)
    list(JOIN failures "\n" text)
    message(FATAL_ERROR "Includes across layers:\n${text}")
endif()
message(STATUS "Every include stays within its layer's reach")
