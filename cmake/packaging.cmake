# Install layout and the Debian package.
include(GNUInstallDirs)
install(TARGETS parley allumer eteindre RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME parley)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "SPI console and pin switches for a Raspberry Pi and an Arduino")
set(CPACK_PACKAGE_DESCRIPTION "parley exchanges two operator-chosen bytes with an Arduino on SPI
channel 0 until the board answers 'i'; allumer and eteindre drive GPIO 17
(wiringPi pin 0) high and low.")
set(CPACK_PACKAGE_CONTACT "parley maintainers <parley@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The programs link libwiringPi.so by its soname; the package brings it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "wiringpi, libc6 (>= 2.34), libgcc-s1 (>= 3.5), libstdc++6 (>= 4.2)")
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^aarch64")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
endif()
set(CPACK_STRIP_FILES ON)
include(CPack)
