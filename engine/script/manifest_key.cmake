# The manifest key as the installation script holds it: the base64 of the key's DER
# SubjectPublicKeyInfo, that is the body of its PEM file in one line. The script takes the point's
# X and Y from fixed places in it, so only an uncompressed P-256 point may pass: its DER always
# begins with the same 27 bytes, which are the 36 base64 characters below, and is 91 bytes long.
set(ORVAN_P256_KEY_PREFIX "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE")

# Sets textVar to that text, or errorVar to why the PEM file cannot be the key.
function(orvan_manifest_key_text pem openssl textVar errorVar)
  set(text "")
  set(error "")
  if(NOT EXISTS "${pem}" OR IS_DIRECTORY "${pem}")
    set(error "there is no file '${pem}'")
  else()
    # openssl writes a compressed point out uncompressed; it passes other algorithms through.
    execute_process(COMMAND "${openssl}" ec -pubin -in "${pem}" -conv_form uncompressed -outform PEM
                    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE opensslError)
    string(REGEX REPLACE "-----[^\n]*-----" "" body "${out}")
    string(REGEX REPLACE "[\r\n]" "" body "${body}")
    string(LENGTH "${body}" length)
    if(NOT status EQUAL 0)
      string(REGEX REPLACE "(read|writing) EC key\n" "" opensslError "${opensslError}")
      string(REGEX REPLACE "\n.*" "" opensslError "${opensslError}")
      set(error "'${pem}' holds no public key in PEM form (a private key belongs on the publishing machine only): openssl: ${opensslError}")
    elseif(NOT body MATCHES "^${ORVAN_P256_KEY_PREFIX}[A-Za-z0-9+/]+==$" OR NOT length EQUAL 124)
      set(error "'${pem}' is no ECDSA key on the curve P-256 (prime256v1), the only one the installer checks")
    else()
      set(text "${body}")
    endif()
  endif()
  set(${textVar} "${text}" PARENT_SCOPE)
  set(${errorVar} "${error}" PARENT_SCOPE)
endfunction()
