# The library's sources, listed by folder (bottom layer first). Files that only build on
# POSIX systems (our stand-ins for the platform, the libxml2 engine, the simulated phone) and
# the Windows platform layer (*_win32.cpp, the MSXML engine) are listed apart.

set(KIVMOD_SOURCES
  # platform
  src/platform/bluetooth_address.cpp
  src/platform/byte_stream.cpp
  src/platform/local_names.cpp
  src/platform/local_time.cpp
  src/platform/message_box.cpp
  src/platform/messages.cpp
  src/platform/shell_path.cpp
  src/platform/text.cpp
  src/platform/trace.cpp
  # link
  src/link/backup_file.cpp
  src/link/backup_io.cpp
  src/link/backup_records.cpp
  src/link/builtin_link.cpp
  src/link/channel_factory.cpp
  src/link/current_link.cpp
  src/link/frame.cpp
  src/link/plugged_link.cpp
  src/link/stream_channel.cpp
  # protocol
  src/protocol/backup_commands.cpp
  src/protocol/codec.cpp
  src/protocol/download.cpp
  src/protocol/file_commands.cpp
  src/protocol/java_commands.cpp
  src/protocol/listing.cpp
  src/protocol/media_commands.cpp
  src/protocol/pfileman.cpp
  src/protocol/space.cpp
  src/protocol/transfer_file.cpp
  src/protocol/type_array.cpp
  src/protocol/upload.cpp
  # xml
  src/xml/xml_file_list.cpp
  src/xml/xml_parser.cpp
  # filemanager
  src/filemanager/delete.cpp
  src/filemanager/folder_open.cpp
  src/filemanager/folder_tree.cpp
  src/filemanager/get_files.cpp
  src/filemanager/manager.cpp
  src/filemanager/records.cpp
  src/filemanager/rename.cpp
  src/filemanager/resume.cpp
  src/filemanager/send_files.cpp
  # media
  src/media/sound_library.cpp
  # backup
  src/backup/backup.cpp
  # java
  src/java/java_installer.cpp
  # email
  src/email/email_transfer.cpp
  # boundary
  src/boundary/exports_backup.cpp
  src/boundary/exports_collections.cpp
  src/boundary/exports_email.cpp
  src/boundary/exports_files.cpp
  src/boundary/exports_host.cpp
  src/boundary/exports_java.cpp
  src/boundary/exports_lists.cpp
  src/boundary/exports_media.cpp
  src/boundary/exports_session.cpp
  src/boundary/exports_tree.cpp
)

# The simulated phone serves a POSIX folder tree; the Windows library talks to phones only.
set(KIVMOD_SOURCES_PHONESIM
  src/phonesim/backup.cpp
  src/phonesim/config.cpp
  src/phonesim/email.cpp
  src/phonesim/files.cpp
  src/phonesim/java.cpp
  src/phonesim/media.cpp
  src/phonesim/phone.cpp
  src/phonesim/server.cpp
  src/phonesim/sim_channel.cpp
  src/phonesim/transfer_paths.cpp
  src/phonesim/transfers.cpp
)

set(KIVMOD_SOURCES_POSIX
  src/platform/bluetooth_socket_posix.cpp
  src/platform/fd_stream_posix.cpp
  src/platform/local_files_posix.cpp
  src/platform/message_box_posix.cpp
  src/platform/serial_port_posix.cpp
  src/platform/system_file_posix.cpp
  src/platform/tcp_socket_posix.cpp
  src/platform/text_posix.cpp
  src/platform/unique_fd_posix.cpp
  src/platform/window_posix.cpp
  src/platform/workdir_posix.cpp
  src/xml/xml_engine_libxml2.cpp
)

set(KIVMOD_SOURCES_WIN32
  src/platform/bluetooth_socket_win32.cpp
  src/platform/local_files_win32.cpp
  src/platform/message_box_win32.cpp
  src/platform/serial_port_win32.cpp
  src/platform/socket_stream_win32.cpp
  src/platform/system_file_win32.cpp
  src/platform/tcp_socket_win32.cpp
  src/platform/text_win32.cpp
  src/platform/window_win32.cpp
  src/platform/workdir_win32.cpp
  src/xml/xml_engine_msxml.cpp
)

if(WIN32)
  list(APPEND KIVMOD_SOURCES ${KIVMOD_SOURCES_WIN32})
else()
  list(APPEND KIVMOD_SOURCES ${KIVMOD_SOURCES_PHONESIM} ${KIVMOD_SOURCES_POSIX})
endif()
list(TRANSFORM KIVMOD_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/../)
