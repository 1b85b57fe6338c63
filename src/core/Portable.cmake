# SPDX-License-Identifier: MIT
# The part of core that builds for Windows too: viewer.exe compiles these
# with the cross compiler. Paths are relative to src/core; they use nothing
# but the standard library, zlib, and for search libxml2 and SQLite.
set(QV_CORE_PORTABLE_SOURCES
  base/Stream.cpp
  base/Error.cpp
  base/LittleEndian.cpp
  base/PathParts.cpp
  archive/ArchiveLayout.cpp
  base/Text.cpp
  base/Utf8.cpp
  archive/ArchiveReader.cpp
  archive/InflateIndex.cpp
  archive/ArchivePaths.cpp
  platform/Wildcard.cpp
  project/SettingsImage.cpp
  viewercore/ByteRanges.cpp
  viewercore/HandOver.cpp
  viewercore/HostRules.cpp
  viewercore/MimeTypes.cpp
  viewercore/PageAddress.cpp
  viewercore/PageText.cpp
  viewercore/ReplyPages.cpp
  viewercore/SearchPage.cpp
  viewercore/SiteArchive.cpp
  viewercore/SiteSearch.cpp
  viewercore/StartRules.cpp
  viewercore/TextCharset.cpp
  viewercore/ViewerSettings.cpp)
