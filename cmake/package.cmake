# The Debian package, `make package`: the helper, its manual page and its Debian documents,
# everything `cmake --install` puts under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmate-dictate)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Quillmate developers <dictate@quillmate.app>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "on-device dictation helper of the Quillmate task app")
# CPack puts the summary first and indents these lines itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Quillmate starts this helper when its user presses the dictation button. It
listens to the microphone through PulseAudio, recognises speech on the machine
itself with pocketsphinx, and reports its progress as JSON status lines on
standard output until the host closes its standard input.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # quillmate-dictate_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The shared libraries the helper links, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Recommended, not required: without it the helper still runs and answers that dictation is
# unavailable, and a user who dictates in another language installs that language's model
# instead. apt installs recommendations by default, so English works out of the box.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS pocketsphinx-en-us)
include(CPack)

# Debian's documents for the package: the copyright and a changelog, compressed as policy asks.
set(package_docs share/doc/quillmate-dictate)
add_custom_command(OUTPUT changelog.gz
  COMMAND gzip -9n -c "${PROJECT_SOURCE_DIR}/packaging/changelog" > changelog.gz
  DEPENDS packaging/changelog VERBATIM)
add_custom_target(package_documents ALL DEPENDS changelog.gz)
install(FILES packaging/copyright "${PROJECT_BINARY_DIR}/changelog.gz"
  DESTINATION ${package_docs})
