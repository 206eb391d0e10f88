telvix_test(tst_settingsdialog LABEL gui SOURCES settings/tst_settingsdialog.cpp
    settings/SettingsTestSupport.h LIBS telvix_guisupport)
telvix_test(tst_settingsmode LABEL pty SOURCES settings/tst_settingsmode.cpp
    settings/SettingsTestSupport.h LIBS telvix_guisupport)
