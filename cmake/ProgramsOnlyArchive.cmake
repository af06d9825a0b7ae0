# Run by cpack once it has made the release archive: makes the archive anew
# from the same staged files, holding the files alone. An archive with an
# entry for the component folder would, unpacked over a plant, give that
# folder the mode, owner and time of the build machine's (GNU tar sets them
# on folders that exist), and a plant whose folder is writable by a group of
# operators would lose that. The files are stored as root's, so that an
# administrator who unpacks gets programs owned by root, and anyone else gets
# their own.
find_program(TAR tar REQUIRED)
foreach(archive IN LISTS CPACK_PACKAGE_FILES)
    file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${CPACK_TEMPORARY_DIRECTORY}"
         "${CPACK_TEMPORARY_DIRECTORY}/*")
    list(SORT files)
    execute_process(
        COMMAND "${TAR}" --create --gzip --file "${archive}" --owner=0 --group=0 --numeric-owner
                --directory "${CPACK_TEMPORARY_DIRECTORY}" -- ${files}
        RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "Could not write ${archive} (tar: ${status})")
    endif()
endforeach()
