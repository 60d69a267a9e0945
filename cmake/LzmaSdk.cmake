# The parts of the LZMA SDK (fetched by tools/setup.sh into third_party/lzma-sdk, never committed) that
# this build compiles, named once for the Windows trees (third_party/CMakeLists.txt) and the native fuzz
# tree (tests/fuzz/CMakeLists.txt).
#
# The 7z decoder: archive database, LZMA, BCJ2 and the branch filters 7zDec.c refers to (BCJ and its
# siblings, Delta), CRC-32, the look-ahead stream and the allocators. LZMA2 and PPMd are left out; the
# payload archive never uses them.
set(LZMA_SDK_DIR ${CMAKE_CURRENT_LIST_DIR}/../third_party/lzma-sdk/C)
get_filename_component(LZMA_SDK_DIR ${LZMA_SDK_DIR} ABSOLUTE)
if(NOT EXISTS ${LZMA_SDK_DIR}/7zDec.c)
  message(FATAL_ERROR "LZMA SDK missing in ${LZMA_SDK_DIR}: run tools/setup.sh")
endif()
set(LZMA_SDK_DECODER_SOURCES
  ${LZMA_SDK_DIR}/7zAlloc.c
  ${LZMA_SDK_DIR}/7zArcIn.c
  ${LZMA_SDK_DIR}/7zBuf.c
  ${LZMA_SDK_DIR}/7zCrc.c
  ${LZMA_SDK_DIR}/7zCrcOpt.c
  ${LZMA_SDK_DIR}/7zDec.c
  ${LZMA_SDK_DIR}/7zStream.c
  ${LZMA_SDK_DIR}/Bcj2.c
  ${LZMA_SDK_DIR}/Bra.c
  ${LZMA_SDK_DIR}/Bra86.c
  ${LZMA_SDK_DIR}/BraIA64.c
  ${LZMA_SDK_DIR}/CpuArch.c
  ${LZMA_SDK_DIR}/Delta.c
  ${LZMA_SDK_DIR}/LzmaDec.c
)
set(LZMA_SDK_DECODER_DEFINITIONS Z7_NO_METHOD_LZMA2 Z7_EXTRACT_ONLY)

# SHA-1 (with the processor's SHA instructions where present) and MD5, for file digests and the
# quarantine's names; SHA-256 for the payload's check against the digest the build recorded. The processor feature tests they use (CpuArch.c) come with the decoder.
set(LZMA_SDK_HASH_SOURCES ${LZMA_SDK_DIR}/Sha1.c ${LZMA_SDK_DIR}/Sha1Opt.c ${LZMA_SDK_DIR}/Md5.c
  ${LZMA_SDK_DIR}/Sha256.c ${LZMA_SDK_DIR}/Sha256Opt.c)
