# SPDX-License-Identifier: MIT
cmake_policy(VERSION 3.25)
# Lays out the Windows program folder as windeployqt would: the programs, the DLLs they load
# (Qt's and MinGW's run time, found by following each file's imports) and the Qt plugins in
# their subfolders. Fails when a file needs a DLL that is neither deployed nor part of Windows,
# so a folder that is made is complete.
#
# cmake -DDEPLOY_DIR=... -DPROGRAMS=a.exe;b.exe -DQT_DIR=... -DPLUGINS=platforms/qwindows.dll;...
#       -DDLL_DIRS=dir;dir -DOBJDUMP=... -DSTRIP=... -P windows_deploy.cmake

foreach(var DEPLOY_DIR PROGRAMS QT_DIR PLUGINS DLL_DIRS OBJDUMP STRIP)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "windows_deploy: ${var} is not set")
    endif()
endforeach()

# What Windows itself provides (lower case). A DLL outside this list must be deployed.
set(system_dlls
    kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ole32.dll oleaut32.dll
    comdlg32.dll winspool.drv imm32.dll winmm.dll uxtheme.dll dwmapi.dll version.dll
    shlwapi.dll shcore.dll wtsapi32.dll userenv.dll setupapi.dll netapi32.dll mpr.dll
    authz.dll ws2_32.dll dwrite.dll d2d1.dll d3d9.dll d3d11.dll dxgi.dll msvcrt.dll
    ntdll.dll api-ms-win-core-winrt-l1-1-0.dll api-ms-win-core-winrt-string-l1-1-0.dll
    api-ms-win-core-synch-l1-2-0.dll)

file(REMOVE_RECURSE "${DEPLOY_DIR}")
file(MAKE_DIRECTORY "${DEPLOY_DIR}")

set(queue)
foreach(program IN LISTS PROGRAMS)
    get_filename_component(name "${program}" NAME)
    execute_process(COMMAND "${STRIP}" -o "${DEPLOY_DIR}/${name}" "${program}"
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "windows_deploy: cannot strip ${program}")
    endif()
    list(APPEND queue "${DEPLOY_DIR}/${name}")
endforeach()
foreach(plugin IN LISTS PLUGINS)
    get_filename_component(sub "${plugin}" DIRECTORY)
    file(COPY "${QT_DIR}/plugins/${plugin}" DESTINATION "${DEPLOY_DIR}/${sub}")
    list(APPEND queue "${DEPLOY_DIR}/${plugin}")
endforeach()

# Follow the imports until every DLL is either deployed or Windows' own.
set(deployed)
while(queue)
    list(POP_FRONT queue file)
    execute_process(COMMAND "${OBJDUMP}" -p "${file}" OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "windows_deploy: cannot read the imports of ${file}")
    endif()
    string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${dump}")
    foreach(line IN LISTS imports)
        string(REPLACE "DLL Name: " "" dll "${line}")
        string(STRIP "${dll}" dll)
        string(TOLOWER "${dll}" key)
        if(key IN_LIST system_dlls OR key IN_LIST deployed)
            continue()
        endif()
        set(found "")
        foreach(dir "${QT_DIR}/bin" ${DLL_DIRS})
            if(EXISTS "${dir}/${dll}")
                set(found "${dir}/${dll}")
                break()
            endif()
        endforeach()
        if(NOT found)
            get_filename_component(who "${file}" NAME)
            message(FATAL_ERROR "windows_deploy: ${who} needs ${dll}, which is neither in "
                                "the Qt or MinGW folders nor part of Windows")
        endif()
        # MinGW's run time comes with its debugging symbols: 23 MB of them in libstdc++.
        execute_process(COMMAND "${STRIP}" --strip-unneeded -o "${DEPLOY_DIR}/${dll}" "${found}"
                        RESULT_VARIABLE rc)
        if(NOT rc EQUAL 0)
            message(FATAL_ERROR "windows_deploy: cannot strip ${found}")
        endif()
        list(APPEND deployed "${key}")
        list(APPEND queue "${DEPLOY_DIR}/${dll}")
    endforeach()
endwhile()
list(SORT deployed)
string(REPLACE ";" " " listed "${deployed}")
message(STATUS "Deployed ${DEPLOY_DIR} with ${listed}")

# The installer's file list, made from what was deployed: it installs these files and its
# uninstaller removes exactly these, never a folder's other content.
if(DEFINED NSIS_INCLUDE)
    file(GLOB_RECURSE files RELATIVE "${DEPLOY_DIR}" "${DEPLOY_DIR}/*")
    list(SORT files)
    set(install "!macro CK_INSTALL_FILES\n")
    set(uninstall "!macro CK_UNINSTALL_FILES\n")
    set(dirs)
    set(current "-")
    foreach(f IN LISTS files)
        get_filename_component(sub "${f}" DIRECTORY)
        string(REPLACE "/" "\\" winf "${f}")
        if(NOT sub STREQUAL current)
            string(REPLACE "/" "\\" winsub "${sub}")
            if(sub STREQUAL "")
                string(APPEND install "  SetOutPath \"$INSTDIR\"\n")
            else()
                string(APPEND install "  SetOutPath \"$INSTDIR\\${winsub}\"\n")
                list(APPEND dirs "${winsub}")
            endif()
            set(current "${sub}")
        endif()
        string(APPEND install "  File \"${DEPLOY_DIR}/${f}\"\n")
        string(APPEND uninstall "  Delete \"$INSTDIR\\${winf}\"\n")
    endforeach()
    list(REMOVE_DUPLICATES dirs)
    foreach(d IN LISTS dirs)
        string(APPEND uninstall "  RMDir \"$INSTDIR\\${d}\"\n")
    endforeach()
    string(APPEND install "!macroend\n")
    string(APPEND uninstall "!macroend\n")
    file(WRITE "${NSIS_INCLUDE}" "${install}${uninstall}")
endif()
