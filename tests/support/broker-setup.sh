#!/usr/bin/env bash
# A mosquitto broker's set-up for the tests, in the folder it runs in: its users (the program's,
# and an observer who may do anything), their rights, and a listener on loopback at port $1.
# With ports $2 and $3, also a CA made here and TLS listeners with its certificates for
# localhost and for another name.
set -e
mosquitto_passwd -b -c passwd wattmeter secret && mosquitto_passwd -b passwd observer look
printf '%s\n' 'user wattmeter' 'topic write wattmeter/n1/#' 'topic write homeassistant/#' \
    'topic read wattmeter/n1/command' 'topic read homeassistant/status' \
    'user observer' 'topic readwrite #' > acl
printf '%s\n' 'per_listener_settings false' 'allow_anonymous false' 'user root' \
    "password_file $PWD/passwd" "acl_file $PWD/acl" "listener $1 127.0.0.1" > broker.conf
[ -n "$2" ] || exit 0
key="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1"
openssl req -x509 $key -subj /CN=CA -keyout ca.key -out ca.crt
for name in localhost elsewhere.invalid; do
    openssl req $key -subj /CN=$name -keyout $name.key -out $name.csr
    openssl x509 -req -in $name.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 1 \
        -out $name.crt -extfile <(echo subjectAltName=DNS:$name)
    printf '%s\n' "listener $2 127.0.0.1" "certfile $PWD/$name.crt" "keyfile $PWD/$name.key" \
        >> broker.conf
    shift
done
