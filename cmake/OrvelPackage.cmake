# The Debian package: "cpack -G DEB" in a build folder makes
# orvel_<version>_amd64.deb from what the install rules install, nothing else.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvel)
set(CPACK_PACKAGE_VENDOR "The Orvel developers")
set(CPACK_PACKAGE_CONTACT "The Orvel developers <maintainers@orvel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "network speed tester for the desktop and the terminal")
set(CPACK_PACKAGE_DESCRIPTION "Orvel (Orvel网络测速器) keeps named test plans of web sites and hosts.
A run measures every item of a plan five times, up to twenty items at
once, by Ping (ICMP echo), by fetching the site's home page over HTTP or
HTTPS, by a DNS query, or by a TCP connect to host:port, and shows each
item's average time and failure ratio and the mean of those averages.
A path trace shows the loss and times hop by hop to an item's host.
.
The package holds the Qt window (orvel) and a terminal runner (orvel-cli)
that prints the results as a table, CSV, JSON or OpenMetrics, and with
--watch serves them to Prometheus. Both may open raw ICMP sockets (the
file capability cap_net_raw), so that Ping works without root.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# setcap, for the post-install step; a dependency so that it is there when
# that step runs. Qt's own translations put its dialogs' texts in Chinese.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin, qt6-translations-l10n")
# The window's texts are Chinese.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

# The copyright file and the changelog belong to the package only, so
# "cmake --install" leaves them out.
set(CPACK_ORVEL_DEBIAN_DIR ${CMAKE_SOURCE_DIR}/packaging/debian)
set(CPACK_INSTALL_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/PackageDocs.cmake)

include(CPack)
