# cmake -DINPUT=FILE -DOUTPUT=FILE -P crlf_text.cmake: copies a text file with every line ending
# in CR LF, as Windows' own editors expect.
file(READ "${INPUT}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUTPUT}" "${text}")
