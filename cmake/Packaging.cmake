# Installing LumenPick like a desktop program: install rules, the version the programs print,
# the desktop entry, icon, AppStream data, manual page, shell completion and the Debian
# package (`make package`). Included at the end of the top-level CMakeLists.txt.

# The version lives in project(); the programs get it as LUMENPICK_VERSION.
foreach(t lumenpick lumenpick-cli)
  if(TARGET ${t})
    target_compile_definitions(${t} PRIVATE LUMENPICK_VERSION="${PROJECT_VERSION}")
  endif()
endforeach()
# The date of the release PROJECT_VERSION names, for the AppStream release list.
set(LUMENPICK_RELEASE_DATE 2026-12-07)

set(LP_DATA_SRC ${CMAKE_SOURCE_DIR}/data)
set(LP_DATA_OUT ${CMAKE_BINARY_DIR}/data)

# The window icon is drawn from the same SVG as the menu icon.
if(TARGET lumenpick)
  find_package(Qt6 REQUIRED COMPONENTS Svg)
  target_link_libraries(lumenpick PRIVATE Qt6::Svg)
  qt_add_resources(lumenpick lumenpick_icon PREFIX /icons BASE ${LP_DATA_SRC}/icons
                   FILES ${LP_DATA_SRC}/icons/lumenpick.svg)
endif()

# The menu icon's bitmaps, rendered from the SVG so the two never differ.
find_program(LP_RSVG_CONVERT rsvg-convert REQUIRED)
set(LP_ICON_SIZES 48 128 256)
set(LP_ICON_PNGS)
foreach(size IN LISTS LP_ICON_SIZES)
  set(png ${LP_DATA_OUT}/icons/${size}x${size}/lumenpick.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${LP_DATA_OUT}/icons/${size}x${size}
    COMMAND ${LP_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${LP_DATA_SRC}/icons/lumenpick.svg
    DEPENDS ${LP_DATA_SRC}/icons/lumenpick.svg
    COMMENT "Rendering the ${size}px icon")
  list(APPEND LP_ICON_PNGS ${png})
endforeach()

# The manual page is written from the CLI's own --help, so it lists every command it has.
set(LP_MANPAGE ${LP_DATA_OUT}/lumenpick-cli.1.gz)
add_custom_command(OUTPUT ${LP_MANPAGE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${LP_DATA_OUT}
  COMMAND sh ${CMAKE_SOURCE_DIR}/tools/packaging/cli-manpage.sh $<TARGET_FILE:lumenpick-cli>
          ${PROJECT_VERSION} ${LP_MANPAGE}
  DEPENDS lumenpick-cli ${CMAKE_SOURCE_DIR}/tools/packaging/cli-manpage.sh
  COMMENT "Writing the manual page of lumenpick-cli")

configure_file(${LP_DATA_SRC}/io.github.lumenpick.LumenPick.metainfo.xml.in
               ${LP_DATA_OUT}/io.github.lumenpick.LumenPick.metainfo.xml @ONLY)

add_custom_target(lumenpick_data ALL DEPENDS ${LP_ICON_PNGS} ${LP_MANPAGE})

# Install layout. The programs find the templates at ../share/lumenpick from bin/, so these two
# destinations are fixed rather than taken from GNUInstallDirs.
foreach(t lumenpick lumenpick-cli lumenpick-price-server lumenpick-sample-market)
  if(TARGET ${t})
    install(TARGETS ${t} RUNTIME DESTINATION bin)
  endif()
endforeach()
install(FILES ${LP_TEMPLATES} DESTINATION share/lumenpick)
install(FILES ${LP_UNIT_TEMPLATES} DESTINATION share/lumenpick/systemd)
install(FILES ${LP_DATA_SRC}/lumenpick.desktop DESTINATION share/applications)
install(FILES ${LP_DATA_OUT}/io.github.lumenpick.LumenPick.metainfo.xml
        DESTINATION share/metainfo)
install(FILES ${LP_DATA_SRC}/icons/lumenpick.svg DESTINATION share/icons/hicolor/scalable/apps)
foreach(size IN LISTS LP_ICON_SIZES)
  install(FILES ${LP_DATA_OUT}/icons/${size}x${size}/lumenpick.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${LP_MANPAGE} DESTINATION share/man/man1)
install(FILES ${LP_DATA_SRC}/completion/lumenpick-cli.bash
        DESTINATION share/bash-completion/completions RENAME lumenpick-cli)

# The Debian package: build/lumenpick_<version>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumenpick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "NORDHAVEN")
set(CPACK_PACKAGE_CONTACT "The LumenPick developers <lumenpick@users.noreply.github.com>")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://github.com/lumenpick/LumenPick")
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
# Library dependencies come from the binaries; the windows also need a CJK font.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own dialogs (file dialogs, standard buttons) in Japanese.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Japanese stock screener for the desktop / 日本株の銘柄選択ツール
LumenPick screens the stocks listed on the Japanese exchanges on a local
price database filled from a price server: up to fourteen criteria, charts
with moving averages, RSI and sigma bands, name search and portfolios.
lumenpick-cli runs the same core from the shell.

ルーメンピックは、株価サーバから取得したローカルの株価データベースで
日本の上場銘柄を選択するデスクトップツールです。最大十四の条件による
銘柄選択、移動平均・RSI・σバンド付きチャート、銘柄検索、
ポートフォリオ管理を備えます。lumenpick-cli で同じ機能をシェルから
使えます。")
include(CPack)

# Tests of the package and of the completion script.
add_test(NAME package_deb
         COMMAND sh ${CMAKE_SOURCE_DIR}/tests/package/package_test.sh ${CMAKE_BINARY_DIR}
                 ${CMAKE_CPACK_COMMAND} ${PROJECT_VERSION})
set_tests_properties(package_deb PROPERTIES TIMEOUT 600)
add_test(NAME bash_completion
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/package/completion_test.sh
                 $<TARGET_FILE:lumenpick-cli> ${LP_DATA_SRC}/completion/lumenpick-cli.bash)
set_tests_properties(bash_completion PROPERTIES TIMEOUT 120)

# The windows' keyboard and high-density tests once more at a device pixel ratio of 2.
foreach(pair "shell:MainWindowKeyboard.*:MainWindowHiDpi.*"
             "screening:ScreeningWindowKeyboard.*:ScreeningWindowHiDpi.*")
  string(REPLACE ":" ";" parts "${pair}")
  list(POP_FRONT parts subsystem)
  list(JOIN parts ":" filter)
  if(TARGET test_${subsystem}_gui)
    add_test(NAME ${subsystem}_gui_scale2
             COMMAND test_${subsystem}_gui --gtest_filter=${filter})
    set_tests_properties(${subsystem}_gui_scale2 PROPERTIES TIMEOUT 300
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_SCALE_FACTOR=2")
  endif()
endforeach()
# The end-to-end run goes through every window and checks their captions at both ratios.
if(TARGET test_e2e)
  add_test(NAME e2e_scale2 COMMAND test_e2e)
  set_tests_properties(e2e_scale2 PROPERTIES TIMEOUT 900
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_SCALE_FACTOR=2")
endif()
