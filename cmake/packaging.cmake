# Documentation, log rotation and the Debian package.
#
# Installed besides the programs (gate/, tools/) and the settings store
# (config/): the manual pages, compressed as Debian installs them; the example
# policies and the README as documentation; the policy's JSON Schema; the log
# rotation. The policy is the administrator's to write: no install creates it.

set(man_pages corvexin_check.8 cmd_check.json.5 corvexin_policy.8)
set(compressed_pages)
foreach(page IN LISTS man_pages)
  string(REGEX REPLACE "^.*\\.([1-9])$" "\\1" section ${page})
  set(source ${PROJECT_SOURCE_DIR}/man/${page})
  set(output ${PROJECT_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND sh -c "gzip -9n -c \"$1\" >\"$2\"" sh ${source} ${output}
    DEPENDS ${source} VERBATIM)
  list(APPEND compressed_pages ${output})
  install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${compressed_pages})

# The log's directory, at the gate's fixed path whatever the prefix, root's
# alone: nobody else may put a link or a FIFO where the gate writes as root.
install(DIRECTORY DESTINATION /var/varn/log
  DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                        WORLD_READ WORLD_EXECUTE)

# Weekly rotation of the log, whatever the prefix: logrotate reads only /etc.
install(FILES ${PROJECT_SOURCE_DIR}/share/corvexin.logrotate DESTINATION /etc/logrotate.d
  RENAME corvexin)

file(GLOB example_policies CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/examples/*.json)
install(FILES ${example_policies} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/share/cmd_check.schema.json
  DESTINATION ${CMAKE_INSTALL_DATADIR}/corvexin)

# The settings store's pkg-config file, written when it is installed, so
# that it names the prefix of that install (cmake --install --prefix DIR).
set(pc_template ${PROJECT_SOURCE_DIR}/cmake/corvexin_config.pc.in)
set(pc_file ${PROJECT_BINARY_DIR}/pkgconfig/corvexin_config.pc)
install(CODE "set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  set(libdir \"${CMAKE_INSTALL_LIBDIR}\")
  set(includedir \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(version \"${PROJECT_VERSION}\")
  configure_file(\"${pc_template}\" \"${pc_file}\" @ONLY)
  file(INSTALL \"${pc_file}\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\"
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)"
  COMPONENT corvexin_config)

# One package with everything: `cpack -G DEB` in the build directory. The
# archive records every file as root's, with the modes of the staged install
# (the gate 4750); the maintainer scripts create the gate's group and give
# it the gate through dpkg-statoverride, and purging forgets the override.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvexin)
set(CPACK_PACKAGE_VENDOR corvexin)
set(CPACK_PACKAGE_CONTACT "corvexin maintainers <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set-uid root command gate of the appliance, with its policy tools")
set(CPACK_PACKAGE_DESCRIPTION
  "corvexin_check decides from the command policy /etc/cmd_check.json whether a shell command line handed over by the web management side may run as root, and runs it; only the members of the group ${CORVEXIN_GATE_GROUP}, which the package creates, may start it. A caller that is not root gets a fresh environment and cannot end or tear the run through its resource limits; the gate uses only a policy that root alone can change and logs to /var/varn/log, which this package creates for root alone and rotates weekly. corvexin_policy checks a policy and explains the gate's decisions. Also the INI settings store library and header.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies from the binaries; libcurl is loaded at run time by the
# first role lookup, so it is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4 | libcurl4t64, adduser")
set(gate ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_SBINDIR}/corvexin_check)
foreach(script postinst postrm)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/${script}.in ${PROJECT_BINARY_DIR}/debian/${script}
    @ONLY)
endforeach()
file(WRITE ${PROJECT_BINARY_DIR}/debian/conffiles "/etc/logrotate.d/corvexin\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_BINARY_DIR}/debian/postinst ${PROJECT_BINARY_DIR}/debian/postrm
  ${PROJECT_BINARY_DIR}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^i[3-6]86$")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
endif()
include(CPack)
