#!/usr/bin/env python3
"""Decodes an SNMP v1 GetRequest given as hex on the command line with pyasn1's BER decoder
and prints its fields, one per line. Exit status 1 when the bytes do not decode as exactly
one such message."""
import sys

from pyasn1.codec.ber import decoder
from pyasn1.type import namedtype, tag, univ


class VarBind(univ.Sequence):
    componentType = namedtype.NamedTypes(
        namedtype.NamedType('name', univ.ObjectIdentifier()),
        namedtype.NamedType('value', univ.Null()))


class VarBindList(univ.SequenceOf):
    componentType = VarBind()


class GetRequestPDU(univ.Sequence):
    tagSet = univ.Sequence.tagSet.tagImplicitly(
        tag.Tag(tag.tagClassContext, tag.tagFormatConstructed, 0))
    componentType = namedtype.NamedTypes(
        namedtype.NamedType('request-id', univ.Integer()),
        namedtype.NamedType('error-status', univ.Integer()),
        namedtype.NamedType('error-index', univ.Integer()),
        namedtype.NamedType('variable-bindings', VarBindList()))


class Message(univ.Sequence):
    componentType = namedtype.NamedTypes(
        namedtype.NamedType('version', univ.Integer()),
        namedtype.NamedType('community', univ.OctetString()),
        namedtype.NamedType('data', GetRequestPDU()))


def main():
    data = bytes.fromhex(sys.argv[1])
    try:
        message, rest = decoder.decode(data, asn1Spec=Message())
    except Exception as error:  # any decoding failure is a malformed message
        print('error=%s' % error)
        return 1
    pdu = message['data']
    binds = pdu['variable-bindings']
    print('remainder=%d' % len(rest))
    print('version=%d' % int(message['version']))
    print('community=%s' % bytes(message['community']).decode('latin-1'))
    print('request-id=%d' % int(pdu['request-id']))
    print('error-status=%d' % int(pdu['error-status']))
    print('error-index=%d' % int(pdu['error-index']))
    print('bindings=%d' % len(binds))
    for bind in binds:
        print('oid=%s' % '.'.join(str(x) for x in bind['name']))
        print('value=null')
    return 0


if __name__ == '__main__':
    sys.exit(main())
