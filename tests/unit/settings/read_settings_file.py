#!/usr/bin/python3
"""Reads a settings file without any of our code: the records come from the stock
Python generator (thrift --gen py), the AES from the openssl command line.

usage: read_settings_file.py <thrift compiler> <idl folder> <settings file> <key hex> <work folder>
Prints the fields of both records as JSON on standard output."""
import hashlib
import json
import os
import subprocess
import sys


def aes_decrypt(data: bytes, key: bytes) -> bytes:
    return subprocess.run(
        ["openssl", "enc", "-d", "-aes-256-cbc", "-nosalt", "-K", key.hex(), "-iv", "00" * 16],
        input=data, stdout=subprocess.PIPE, check=True).stdout


def main() -> None:
    thrift, idl, path, key_hex, work = sys.argv[1:6]
    os.makedirs(work, exist_ok=True)
    subprocess.run([thrift, "-r", "--gen", "py", "-I", idl, "-out", work,
                    os.path.join(idl, "settings.thrift")], check=True)
    sys.path.insert(0, work)
    from thrift.protocol import TBinaryProtocol
    from thrift.transport import TTransport
    from settings.ttypes import SettingsBlob, OSXSettings, OSXEncryptedSettings
    from database.ttypes import EncryptedBlob

    def read(record, data):
        record.read(TBinaryProtocol.TBinaryProtocol(TTransport.TMemoryBuffer(data)))
        return record

    with open(path, "rb") as f:
        blob = read(SettingsBlob(), f.read())
    plain_key = hashlib.sha256("plOmbu VatDeno".encode()).digest()
    plain = read(OSXSettings(), read(EncryptedBlob(), aes_decrypt(blob.settings, plain_key)).blob)
    enc = read(OSXEncryptedSettings(),
               read(EncryptedBlob(), aes_decrypt(blob.encryptedSettings, bytes.fromhex(key_hex))).blob)
    print(json.dumps({
        "clientId": plain.clientId,
        "loggingLevel": plain.loggingLevel,
        "paused": plain.paused,
        "appVersion": plain.appVersion,
        "pairedDevices": {h: {"deviceId": d.deviceId, "name": d.name}
                          for h, d in (plain.pairedDevices or {}).items()},
        "pairedDeviceIdMap": plain.pairedDeviceIdMap,
        "approvedExtIdMap": plain.approvedExtIdMap,
        "generatorLength": plain.generator.config.lenght if plain.generator else None,
        "clientSecret": enc.clientSecret,
        "secretKey": enc.secretKey,
        "certPublicKey": enc.clientCert.publicKey if enc.clientCert else None,
    }, sort_keys=True))


if __name__ == "__main__":
    main()
