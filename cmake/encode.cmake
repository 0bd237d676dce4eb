# The QVX encoder, beside the decoding core: Windows bitmaps and PNG pixels
# brought into the form QVX stores. Format logic only, no system calls.
set(TAVKO_ENCODE_SOURCES
  encode/encode.cpp
)
