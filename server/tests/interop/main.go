// An interop client on an independent QUIC stack (quic-go). It handshakes with ALPN
// "ostrel/1", prints the server certificate (DER, hex) for the caller to check the
// fingerprint, echoes frames of a few sizes, then sends an empty frame header and prints the
// close the server answers with.
//
// Usage: interop <host:port>
// Output lines: "alpn <proto>", "cert <hex>", "echo <n> ok", "close <code> <reason>".
package main

import (
	"context"
	"crypto/tls"
	"encoding/binary"
	"encoding/hex"
	"errors"
	"fmt"
	"io"
	"os"
	"time"

	quic "github.com/lucas-clemente/quic-go"
)

func fail(format string, args ...interface{}) {
	fmt.Fprintf(os.Stderr, format+"\n", args...)
	os.Exit(1)
}

func writeFrame(s quic.Stream, payload []byte) error {
	var header [4]byte
	binary.BigEndian.PutUint32(header[:], uint32(len(payload)))
	if _, err := s.Write(header[:]); err != nil {
		return err
	}
	_, err := s.Write(payload)
	return err
}

func readFrame(s quic.Stream) ([]byte, error) {
	var header [4]byte
	if _, err := io.ReadFull(s, header[:]); err != nil {
		return nil, err
	}
	payload := make([]byte, binary.BigEndian.Uint32(header[:]))
	_, err := io.ReadFull(s, payload)
	return payload, err
}

func main() {
	if len(os.Args) != 2 {
		fail("usage: interop <host:port>")
	}
	tlsConf := &tls.Config{InsecureSkipVerify: true, NextProtos: []string{"ostrel/1"}}
	ctx, cancel := context.WithTimeout(context.Background(), 20*time.Second)
	defer cancel()
	conn, err := quic.DialAddrContext(ctx, os.Args[1], tlsConf, &quic.Config{MaxIdleTimeout: 20 * time.Second})
	if err != nil {
		fail("dial: %v", err)
	}
	state := conn.ConnectionState().TLS
	fmt.Printf("alpn %s\n", state.NegotiatedProtocol)
	if len(state.PeerCertificates) == 0 {
		fail("no server certificate")
	}
	fmt.Printf("cert %s\n", hex.EncodeToString(state.PeerCertificates[0].Raw))
	s, err := conn.OpenStreamSync(ctx)
	if err != nil {
		fail("open stream: %v", err)
	}
	for _, n := range []int{1, 1000, 100000, 1048576} {
		payload := make([]byte, n)
		for i := range payload {
			payload[i] = byte(i*31 + n)
		}
		if err := writeFrame(s, payload); err != nil {
			fail("write %d: %v", n, err)
		}
		back, err := readFrame(s)
		if err != nil {
			fail("read %d: %v", n, err)
		}
		if string(back) != string(payload) {
			fail("echo of %d bytes differs", n)
		}
		fmt.Printf("echo %d ok\n", n)
	}
	if _, err := s.Write([]byte{0, 0, 0, 0}); err != nil {
		fail("write empty header: %v", err)
	}
	_, err = readFrame(s)
	var appErr *quic.ApplicationError
	if !errors.As(err, &appErr) {
		fail("expected an application close, got %v", err)
	}
	fmt.Printf("close %d %s\n", uint64(appErr.ErrorCode), appErr.ErrorMessage)
}
