# Install rules and the packages CPack makes of them, from the build as it
# is (no rebuild):
#   Linux    two Debian packages (scripts/package.sh): mt4bridge, the service
#            with its unit, user, folders and reference; mt4bridge-sim, the
#            simulated trading server and its plugin.
#   Windows  one zip of the service (scripts/windows-build.sh builds it): the
#            exe, the example config.ini, the reference and a README.
# The packages' files are laid out from /: destinations are relative to it.
# packaging/ holds the files of the packages that are not the project's own.

set(MT4BRIDGE_PACKAGING ${CMAKE_SOURCE_DIR}/packaging)

set(CPACK_PACKAGE_NAME mt4bridge)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the mt4bridge developers")
set(CPACK_PACKAGE_CONTACT
    "mt4bridge maintainers <maintainers@users.noreply.c-seed-0fc8624a.example>")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

# What both systems hold: the service and the back office's reference.
if(WIN32)
  set(_mt4_bin .)
  set(_mt4_doc docs)
  set(_mt4_share docs)
else()
  set(_mt4_bin usr/bin)
  set(_mt4_doc usr/share/doc/mt4bridge)
  set(_mt4_share usr/share/mt4bridge)
endif()
install(TARGETS mt4bridge RUNTIME DESTINATION ${_mt4_bin} COMPONENT service)
install(FILES ${CMAKE_SOURCE_DIR}/docs/requests.md DESTINATION ${_mt4_doc} COMPONENT service)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/schemas DESTINATION ${_mt4_share} COMPONENT service)

if(WIN32)
  install(FILES ${CMAKE_SOURCE_DIR}/deploy/config.ini.example DESTINATION . COMPONENT service)
  configure_file(${MT4BRIDGE_PACKAGING}/README-windows.txt
                 ${CMAKE_BINARY_DIR}/packaging/README.txt @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/README.txt DESTINATION . COMPONENT service)
  # The simulator's mtmanapi.dll stays out: it is no production plugin.
  set(CPACK_GENERATOR ZIP)
  set(CPACK_COMPONENTS_ALL service)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
  set(CPACK_SYSTEM_NAME win64)
  include(CPack)
  return()
endif()

# The service's package.
install(FILES ${CMAKE_SOURCE_DIR}/deploy/mt4bridge.service
        DESTINATION lib/systemd/system COMPONENT service)
install(FILES ${MT4BRIDGE_PACKAGING}/sysusers.conf DESTINATION usr/lib/sysusers.d
        RENAME mt4bridge.conf COMPONENT service)
install(FILES ${MT4BRIDGE_PACKAGING}/tmpfiles.conf DESTINATION usr/lib/tmpfiles.d
        RENAME mt4bridge.conf COMPONENT service)
# A conffile (packaging/conffiles); tmpfiles.conf makes it 0640 root:mt4bridge.
install(FILES ${CMAKE_SOURCE_DIR}/deploy/config.ini.example DESTINATION etc/mt4bridge
        RENAME config.ini COMPONENT service)
install(FILES ${CMAKE_SOURCE_DIR}/deploy/activemq.xml ${CMAKE_SOURCE_DIR}/deploy/activemq-tls.xml
        DESTINATION ${_mt4_share}/broker COMPONENT service)
install(FILES ${CMAKE_SOURCE_DIR}/deploy/prometheus/alerts.yml
        DESTINATION ${_mt4_share}/prometheus COMPONENT service)

# The simulator's package: its plugin in a folder of its own, never where
# the service looks for the production one.
install(TARGETS mt4sim RUNTIME DESTINATION usr/bin COMPONENT sim)
install(TARGETS mtmanapi LIBRARY DESTINATION usr/lib/mt4bridge-sim COMPONENT sim)
install(FILES ${CMAKE_SOURCE_DIR}/sim/demo-state.json DESTINATION usr/share/mt4bridge-sim
        COMPONENT sim)

# Each package's copyright, changelog and manual pages, as Debian wants them
# (compressed without a time stamp).
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(MT4BRIDGE_DEB_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
foreach(_mt4_file changelog.Debian mt4bridge.8 mt4sim.1)
  set(_mt4_source ${MT4BRIDGE_PACKAGING}/${_mt4_file})
  if(EXISTS ${_mt4_source}.in)
    set(_mt4_source ${_mt4_source}.in)
  endif()
  configure_file(${_mt4_source} ${CMAKE_BINARY_DIR}/packaging/${_mt4_file} @ONLY)
  execute_process(COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/packaging/${_mt4_file}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
install(FILES ${CMAKE_BINARY_DIR}/packaging/mt4bridge.8.gz DESTINATION usr/share/man/man8
        COMPONENT service)
install(FILES ${CMAKE_BINARY_DIR}/packaging/mt4sim.1.gz DESTINATION usr/share/man/man1
        COMPONENT sim)
foreach(_mt4_package mt4bridge mt4bridge-sim)
  if(_mt4_package STREQUAL mt4bridge)
    set(_mt4_component service)
  else()
    set(_mt4_component sim)
  endif()
  install(FILES ${MT4BRIDGE_PACKAGING}/copyright
                ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
          DESTINATION usr/share/doc/${_mt4_package} COMPONENT ${_mt4_component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL service sim)
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_SERVICE_PACKAGE_NAME mt4bridge)
# The maintainer scripts run systemd-sysusers and systemd-tmpfiles.
set(CPACK_DEBIAN_SERVICE_PACKAGE_DEPENDS systemd)
set(CPACK_DEBIAN_SERVICE_PACKAGE_CONTROL_EXTRA
    ${MT4BRIDGE_PACKAGING}/conffiles ${MT4BRIDGE_PACKAGING}/postinst
    ${MT4BRIDGE_PACKAGING}/prerm ${MT4BRIDGE_PACKAGING}/postrm)
# A package's summary line, then its description.
set(CPACK_DEBIAN_SERVICE_DESCRIPTION "Back-office bridge to the trading server
Carries out the JSON requests of a brokerage's back office (open or
change an account, move money, import or close trades, change group and
symbol settings, send internal mail), taken from ActiveMQ queues
(AMQP 1.0), on a trading server through its manager interface plugin,
and answers each on a reply queue. Every operation is safe to run twice.
.
A systemd service with a user of its own and its stores in
/var/lib/mt4bridge/service; the operator places the trading server's
plugin in /var/lib/mt4bridge/libs and configures /etc/mt4bridge/config.ini.")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME mt4bridge-sim)
set(CPACK_DEBIAN_SIM_DESCRIPTION "Simulated trading server for mt4bridge
A stand-in for the trading server in demonstrations, staging and tests:
the server (mt4sim), with its state in a JSON file and an admin channel,
and the manager interface plugin that reaches it
(/usr/lib/mt4bridge-sim/mtmanapi.so). A staging machine points the
service at it by linking /var/lib/mt4bridge/libs/mtmanapi.so to it.")
# CPack gives this package maintainer scripts that run ldconfig, for a
# shared object below /usr/lib; harmless (the plugin's folder is not one
# ldconfig reads).

include(CPack)
