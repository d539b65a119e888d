# SPDX-License-Identifier: MIT
# The Windows program as it is shipped: the folder windeployqt would make, its zip and the
# NSIS installer, all under the build folder.
#   windows-deploy     deploy/CheckKorvelt-<version>-win64/ (the programs, DLLs, plugins)
#   windows-zip        CheckKorvelt-<version>-win64.zip of that folder
#   windows-installer  CheckKorvelt-<version>-setup.exe (needs makensis, Debian package nsis)
#   windows-package    both

# The deploy step reads import tables with objdump and strips with strip: a MinGW tool chain.
# With MSVC, windeployqt does this job (see the README).
if(NOT CMAKE_OBJDUMP OR NOT CMAKE_STRIP)
    message(STATUS "No objdump and strip for the target: no windows-deploy, -zip or -installer")
    return()
endif()

set(CK_PACKAGE_NAME CheckKorvelt-${PROJECT_VERSION}-win64)
set(CK_DEPLOY_PARENT ${CMAKE_BINARY_DIR}/deploy)
set(CK_DEPLOY_DIR ${CK_DEPLOY_PARENT}/${CK_PACKAGE_NAME})
set(CK_ZIP ${CMAKE_BINARY_DIR}/${CK_PACKAGE_NAME}.zip)
set(CK_SETUP ${CMAKE_BINARY_DIR}/CheckKorvelt-${PROJECT_VERSION}-setup.exe)
set(CK_NSIS_FILES ${CMAKE_BINARY_DIR}/installer_files.nsh)

# Qt's folder, from where CMake found it, and MinGW's run-time DLLs, from the compiler.
get_filename_component(CK_QT_DIR "${Qt6_DIR}/../../.." ABSOLUTE)
set(CK_MINGW_DLL_DIRS)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${path}" AND EXISTS "${path}")
        get_filename_component(dir "${path}" DIRECTORY)
        get_filename_component(dir "${dir}" REALPATH)
        list(APPEND CK_MINGW_DLL_DIRS "${dir}")
    endif()
endforeach()
list(REMOVE_DUPLICATES CK_MINGW_DLL_DIRS)

# What the programs load by name at run time, which no import table shows.
set(CK_QT_PLUGINS platforms/qwindows.dll imageformats/qjpeg.dll styles/qwindowsvistastyle.dll)

add_custom_target(windows-deploy
    COMMAND ${CMAKE_COMMAND}
        "-DDEPLOY_DIR=${CK_DEPLOY_DIR}"
        "-DPROGRAMS=$<TARGET_FILE:checkkorvelt>;$<TARGET_FILE:checkkorvelt-demo>"
        "-DQT_DIR=${CK_QT_DIR}"
        "-DPLUGINS=${CK_QT_PLUGINS}"
        "-DDLL_DIRS=${CK_MINGW_DLL_DIRS}"
        "-DOBJDUMP=${CMAKE_OBJDUMP}"
        "-DSTRIP=${CMAKE_STRIP}"
        "-DNSIS_INCLUDE=${CK_NSIS_FILES}"
        -P ${CMAKE_CURRENT_LIST_DIR}/windows_deploy.cmake
    DEPENDS checkkorvelt checkkorvelt-demo
    COMMENT "Deploying ${CK_PACKAGE_NAME}"
    VERBATIM)

add_custom_target(windows-zip
    COMMAND ${CMAKE_COMMAND} -E rm -f ${CK_ZIP}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${CK_ZIP} --format=zip ${CK_PACKAGE_NAME}
    WORKING_DIRECTORY ${CK_DEPLOY_PARENT}
    COMMENT "Zipping ${CK_PACKAGE_NAME}.zip"
    VERBATIM)
add_dependencies(windows-zip windows-deploy)

find_program(CK_MAKENSIS makensis)
if(CK_MAKENSIS)
    add_custom_target(windows-installer
        COMMAND ${CK_MAKENSIS} -V2 -NOCD
            "-DVERSION=${PROJECT_VERSION}"
            "-DICON=${CMAKE_SOURCE_DIR}/app/checkkorvelt.ico"
            "-DFILES=${CK_NSIS_FILES}"
            "-DOUT_FILE=${CK_SETUP}"
            ${CMAKE_CURRENT_LIST_DIR}/windows_installer.nsi
        COMMENT "Building CheckKorvelt-${PROJECT_VERSION}-setup.exe"
        VERBATIM)
    add_dependencies(windows-installer windows-deploy)
    add_custom_target(windows-package)
    add_dependencies(windows-package windows-zip windows-installer)
else()
    message(STATUS "makensis not found (Debian package nsis): no windows-installer target")
    add_custom_target(windows-package)
    add_dependencies(windows-package windows-zip)
endif()
