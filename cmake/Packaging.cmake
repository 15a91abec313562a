# Installation of both programs (executables, icons, desktop entries, the
# server's systemd unit and folder tool) and one Debian package per program.

include(GNUInstallDirs)

install(TARGETS tramelon RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT tramelon)
install(TARGETS kestrine RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT kestrine)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/packaging/tramelon-dossier
        DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tramelon)

# The icons come from icons/; a checkout without some of them still installs.
set(KT_ICON_SIZES 16 32 48 64 128 256)
foreach(program tramelon kestrine)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/${program}.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT ${program})
    install(FILES ${CMAKE_SOURCE_DIR}/README.md
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${program} COMPONENT ${program})
    set(svg ${CMAKE_SOURCE_DIR}/icons/${program}.svg)
    if(EXISTS ${svg})
        install(FILES ${svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
                COMPONENT ${program})
    else()
        message(STATUS "Icon ${svg} missing: not installed")
    endif()
    foreach(size ${KT_ICON_SIZES})
        set(png ${CMAKE_SOURCE_DIR}/icons/png/${program}-${size}.png)
        if(EXISTS ${png})
            install(FILES ${png}
                    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
                    RENAME ${program}.png COMPONENT ${program})
        endif()
    endforeach()
endforeach()

# The service: systemd's own folders under the prefix (/usr in the packages;
# systemd reads /usr/local/lib too). The unit starts the program where this
# installation puts it: its ExecStart= is written at install time, when the
# prefix is known (cpack installs under /usr, cmake --install under its own).
if(IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}")
    set(_kt_bindir "${CMAKE_INSTALL_BINDIR}")
else()
    set(_kt_bindir "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}")
endif()
install(CODE "
    set(TRAMELON_BINDIR \"${_kt_bindir}\")
    configure_file(\"${CMAKE_SOURCE_DIR}/packaging/tramelon@.service\"
                   \"${CMAKE_BINARY_DIR}/unit/tramelon@.service\" @ONLY)
    file(INSTALL \"${CMAKE_BINARY_DIR}/unit/tramelon@.service\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\")
" COMPONENT tramelon)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/tramelon.sysusers
        DESTINATION lib/sysusers.d RENAME tramelon.conf COMPONENT tramelon)

# The manual pages, one scdoc source each in packaging/man/, made at build time.
find_program(KT_SCDOC scdoc)
if(NOT KT_SCDOC)
    message(FATAL_ERROR "scdoc manque pour les pages de manuel (scripts/install-deps l'installe)")
endif()
set(_kt_man_outputs)
foreach(page tramelon.1 kestrine.1 tramelon-dossier.8 pop3.ini.5)
    set(_src ${CMAKE_SOURCE_DIR}/packaging/man/${page}.scd)
    set(_out ${CMAKE_BINARY_DIR}/man/${page})
    add_custom_command(OUTPUT ${_out}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND sh -c "\"$0\" <\"$1\" >\"$2\"" ${KT_SCDOC} ${_src} ${_out}
        COMMAND gzip -9nf ${_out}
        DEPENDS ${_src} VERBATIM)
    list(APPEND _kt_man_outputs ${_out}.gz)
    string(REGEX MATCH "[0-9]$" _section ${page})
    set(_component tramelon)
    if(page STREQUAL "kestrine.1")
        set(_component kestrine)
    endif()
    install(FILES ${_out}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${_section}
            COMPONENT ${_component})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${_kt_man_outputs})

# Package names that other work on this project may change (translations of
# the standard dialogs, a caption font): one place to align them.
set(KT_DEB_QT_TRANSLATIONS "qt6-translations-l10n" CACHE STRING "Debian package of Qt's translations")
set(KT_DEB_FONT "fonts-liberation2" CACHE STRING "Debian package of the caption font")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tramelon")
set(CPACK_PACKAGE_CONTACT "Tramelon <tramelon@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tramelon kestrine)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# No debugging symbols in what users install.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

# Debian 12 package names; the offscreen and X11 platform plugins come with
# libqt6gui6 there.
set(_kt_qt "libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4)")
set(_kt_common "libc6, libgcc-s1, libstdc++6, ${_kt_qt}, ${KT_DEB_QT_TRANSLATIONS}, ${KT_DEB_FONT}")

set(CPACK_DEBIAN_TRAMELON_PACKAGE_NAME tramelon)
set(CPACK_DEBIAN_TRAMELON_PACKAGE_DEPENDS
    "${_kt_common}, libqt6network6 (>= 6.4), libvmime1 (>= 0.9.2), libgnutls30 (>= 3.7), libetpan20 (>= 1.9), libcurl3-gnutls (>= 7.85), libsystemd0, ca-certificates, kestrine (= ${PROJECT_VERSION})")
# Draws the sign-in address as a QR code in the terminal (tramelon --connexion-oauth2).
set(CPACK_DEBIAN_TRAMELON_PACKAGE_SUGGESTS "qrencode")
set(CPACK_DEBIAN_TRAMELON_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/debian/tramelon/postinst
    ${CMAKE_SOURCE_DIR}/packaging/debian/tramelon/postrm)
set(CPACK_DEBIAN_TRAMELON_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_TRAMELON_DESCRIPTION
    "Serveur de commandes par mail\n Relève une boîte POP3, lance les fichiers de commande préparés que\n demandent des mails protégés par des codes à usage unique, répond par\n SMTP et tient un journal. Unité systemd tramelon@.service pour le\n faire tourner sans écran.")

set(CPACK_DEBIAN_KESTRINE_PACKAGE_NAME kestrine)
set(CPACK_DEBIAN_KESTRINE_PACKAGE_DEPENDS "${_kt_common}")
set(CPACK_COMPONENT_KESTRINE_DESCRIPTION
    "Préparation des mails de commande pour Tramelon\n Liste les commandes et les clefs inutilisées, compose le texte du mail\n de commande et le copie dans le presse-papiers.")

include(CPack)
