# Install rules and the Debian package.
include(GNUInstallDirs)
set(WENDREL_ICON_SIZES 16 22 24 32 48 64 128 256)

install(TARGETS wendrel-batch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/wendrel-batch.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# Where bash-completion and Debian's zsh look for a command's completion on its first Tab.
install(FILES ${PROJECT_SOURCE_DIR}/res/completions/wendrel-batch.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME wendrel-batch)
install(FILES ${PROJECT_SOURCE_DIR}/res/completions/_wendrel-batch
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)

if(WENDREL_BUILD_UI)
    install(TARGETS wendrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${PROJECT_SOURCE_DIR}/res/wendrel.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    # The sizes the hicolor theme looks for, and a scalable one for any other.
    foreach(size IN LISTS WENDREL_ICON_SIZES)
        install(FILES ${PROJECT_SOURCE_DIR}/res/icons/wendrel_${size}.png
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
                RENAME wendrel.png)
    endforeach()
    install(FILES ${PROJECT_SOURCE_DIR}/res/icons/wendrel.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME wendrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Wendrel developers <wendrel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Replace text in a set of files from a list of find/replace pairs")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.34), libstdc++6 (>= 12), libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libxxhash0 (>= 0.8), libvectorscan5 (>= 5.4), libuchardet0 (>= 0.0.7), qt6-qpa-plugins, qt6-translations-l10n, fonts-noto-cjk")
include(CPack)
