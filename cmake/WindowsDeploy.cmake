# The Windows build runs where it lies: the DLLs the programs need (Qt, its
# platform and picture plug-ins, libpng, libsquish, zlib and the MinGW
# runtime) are copied beside them into build/bin, the layout of the ZIP that
# `cmake --install` stages. Included from the top CMakeLists.txt for WIN32.
if(NOT VORLAND_WIN_SDK)
    message(FATAL_ERROR "Set VORLAND_WIN_SDK to the folder scripts/windows.sh built Qt into")
endif()

set(runtime_dlls)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libgcc_s_dw2-1.dll libwinpthread-1.dll zlib1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${found}")
        find_file(found_${dll} ${dll} PATHS /usr/${VORLAND_TRIPLET}/lib /usr/${VORLAND_TRIPLET}/bin
                  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
        set(found ${found_${dll}})
    endif()
    if(EXISTS "${found}")
        list(APPEND runtime_dlls ${found})
    endif()
endforeach()
foreach(dll Qt5Core Qt5Gui Qt5Widgets libpng16)
    list(APPEND runtime_dlls ${VORLAND_WIN_SDK}/bin/${dll}.dll)
endforeach()
set(qt_plugins
    platforms/qwindows.dll
    platforms/qoffscreen.dll
    styles/qwindowsvistastyle.dll
    imageformats/qgif.dll
    imageformats/qico.dll
    imageformats/qjpeg.dll)

file(COPY ${runtime_dlls} ${VORLAND_WIN_SDK}/bin/Qt5Test.dll DESTINATION ${CMAKE_BINARY_DIR}/bin)
foreach(plugin ${qt_plugins})
    get_filename_component(folder ${plugin} DIRECTORY)
    file(COPY ${VORLAND_WIN_SDK}/plugins/${plugin} DESTINATION ${CMAKE_BINARY_DIR}/bin/${folder})
    install(FILES ${VORLAND_WIN_SDK}/plugins/${plugin} DESTINATION ${folder})
endforeach()

# Qt looks for plug-ins below the prefix it was built for, a path that on
# the user's machine is a folder on the current drive that anybody might
# make. qt.conf beside the programs puts that prefix in their own folder.
file(WRITE ${CMAKE_BINARY_DIR}/windows/qt.conf "[Paths]\r\nPrefix = .\r\nPlugins = .\r\n")
file(COPY ${CMAKE_BINARY_DIR}/windows/qt.conf DESTINATION ${CMAKE_BINARY_DIR}/bin)
install(FILES ${CMAKE_BINARY_DIR}/windows/qt.conf DESTINATION .)

# Everything in one folder: no bin/, lib/ or share/ below the prefix.
install(TARGETS vorland vorland-cli RUNTIME DESTINATION .)
install(TARGETS GfxCore RUNTIME DESTINATION .)
install(FILES ${runtime_dlls} DESTINATION .)
install(FILES ${VORLAND_DEMO_ARCHIVE} DESTINATION .)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(VORLAND_WINDOWS_NAME win32)
else()
    set(VORLAND_WINDOWS_NAME win64)
endif()
configure_file(${PROJECT_SOURCE_DIR}/resources/windows/README.txt
               ${CMAKE_BINARY_DIR}/windows/README.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/windows/README.txt DESTINATION .)

# Each program gets its icon, manifest (long paths) and version.
function(vorland_windows_resources target description)
    set(VORLAND_RC_FILE ${target}.exe)
    set(VORLAND_RC_DESCRIPTION ${description})
    set(VORLAND_RC_ICONS ${PROJECT_SOURCE_DIR}/resources/windows)
    set(VORLAND_RC_MANIFEST ${CMAKE_BINARY_DIR}/windows/vorland.manifest)
    configure_file(${PROJECT_SOURCE_DIR}/resources/windows/vorland.manifest
                   ${VORLAND_RC_MANIFEST} @ONLY)
    configure_file(${PROJECT_SOURCE_DIR}/resources/windows/program.rc.in
                   ${CMAKE_BINARY_DIR}/windows/${target}.rc @ONLY)
    target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/windows/${target}.rc)
endfunction()
vorland_windows_resources(vorland "Vorland, a viewer for BIG archives")
vorland_windows_resources(vorland-cli "Vorland's command-line tool for BIG archives")
set_target_properties(vorland PROPERTIES WIN32_EXECUTABLE ON)
install(FILES ${PROJECT_SOURCE_DIR}/resources/windows/org.vorland.Vorland.ico
              ${PROJECT_SOURCE_DIR}/resources/windows/application-x-vorland-big.ico
              ${PROJECT_SOURCE_DIR}/resources/windows/image-x-vorland-tpi.ico
        DESTINATION icons)
