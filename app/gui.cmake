# The Qt desktop program: the dialogs in a static library the widget tests link,
# and the Tessary executable over it.
find_package(Qt6 REQUIRED COMPONENTS Widgets Concurrent)
include(GNUInstallDirs)

add_library(tessary_gui STATIC
    about_dialog.cpp
    app_icon.cpp
    batch_app.cpp
    dialog_engine.cpp
    dialog_builder.cpp
    main_dialog.cpp
    main_dialog_drop.cpp
    main_dialog_layout.cpp
    main_dialog_run.cpp
    preview_render.cpp
    preview_view.cpp
    preview_window.cpp
    progress_dialog.cpp
    settings.cpp
    ui_services.cpp
    resources/dialog_templates.cpp
    resources/string_table.cpp
    resources/tessary.qrc)
set_target_properties(tessary_gui PROPERTIES AUTOMOC ON AUTORCC ON)
target_include_directories(tessary_gui PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tessary_gui PUBLIC tessary_batch Qt6::Widgets
                                   PRIVATE Qt6::Concurrent tessary_warnings)

# The file name is the application name: message-box titles and the settings key use it.
add_executable(Tessary main.cpp)
target_link_libraries(Tessary PRIVATE tessary_gui tessary_warnings)

install(TARGETS Tessary RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
tessary_install_gzipped(${PROJECT_SOURCE_DIR}/docs/man/Tessary.1 ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES resources/tessary.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 32 128)
    install(FILES resources/icons/tessary-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME tessary.png)
endforeach()
install(FILES resources/icons/tessary.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The software-centre entry. Its id stands in, like the home page, until the project has a domain
# of its own; once published it should never change.
set(TESSARY_APPSTREAM_ID org.example.tessary)
configure_file(resources/tessary.metainfo.xml.in
               ${CMAKE_CURRENT_BINARY_DIR}/${TESSARY_APPSTREAM_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${TESSARY_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
