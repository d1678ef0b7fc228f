package mt4bridge.broker;

import java.io.File;
import java.net.BindException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

import org.apache.activemq.broker.BrokerPlugin;
import org.apache.activemq.broker.BrokerService;
import org.apache.activemq.broker.TransportConnector;
import org.apache.activemq.broker.region.policy.IndividualDeadLetterStrategy;
import org.apache.activemq.broker.region.policy.PolicyEntry;
import org.apache.activemq.broker.region.policy.PolicyMap;
import org.apache.activemq.filter.DestinationMapEntry;
import org.apache.activemq.security.AuthenticationUser;
import org.apache.activemq.security.AuthorizationEntry;
import org.apache.activemq.security.AuthorizationPlugin;
import org.apache.activemq.security.DefaultAuthorizationMap;
import org.apache.activemq.security.SimpleAuthenticationPlugin;
import org.apache.activemq.store.kahadb.KahaDBPersistenceAdapter;

/**
 * The test and benchmark broker: ActiveMQ Classic started in-process with an
 * AMQP 1.0 and an OpenWire connector on the loopback interface, a persistent
 * KahaDB store in the folder the caller names, no JMX and no web console.
 *
 * Arguments: data-dir amqp-port openwire-port [user password] [key=value ...].
 * With a user and password every client must authenticate (SASL PLAIN on
 * AMQP). Each key=value argument turns on one further feature; an unknown
 * key stops the launcher (exit 2) rather than start a broker the caller did
 * not ask for.
 *
 * Port 0 lets the connector bind a free port itself. Once every connector
 * is listening, the ports bound are written to data-dir/ports (replaced at
 * once, never seen half written), one name=port line per connector: amqp,
 * openwire, and for an option namePort=N (amqpsPort, stompPort) the name.
 * A port that is already taken ends the launcher with exit status 3, any
 * other failure to start with 1.
 * Runs until the process is terminated; the shutdown hook stops the broker
 * cleanly so the store is consistent for the next start.
 */
public final class EmbeddedBroker {
    private EmbeddedBroker() {}

    public static void main(String[] args) throws Exception {
        List<String> positional = new ArrayList<>();
        Map<String, String> options = new LinkedHashMap<>();
        for (String arg : args) {
            int eq = arg.indexOf('=');
            if (positional.size() >= 3 && eq > 0) {
                options.put(arg.substring(0, eq), arg.substring(eq + 1));
            } else {
                positional.add(arg);
            }
        }
        if (positional.size() != 3 && positional.size() != 5) {
            System.err.println("usage: EmbeddedBroker data-dir amqp-port openwire-port [user password] [key=value ...]");
            System.exit(2);
        }
        File dataDir = new File(positional.get(0)).getAbsoluteFile();
        int amqpPort = port("amqp-port", positional.get(1));
        int openwirePort = port("openwire-port", positional.get(2));
        // The connectors by the name the ports file gives them.
        Map<String, TransportConnector> connectors = new LinkedHashMap<>();

        BrokerService broker = new BrokerService();
        broker.setBrokerName("mt4bridge");
        broker.setDataDirectoryFile(dataDir);
        broker.setPersistent(true);
        broker.setUseJmx(false);
        broker.setSchedulerSupport(false);
        broker.setUseShutdownHook(true);

        KahaDBPersistenceAdapter store = new KahaDBPersistenceAdapter();
        store.setDirectory(new File(dataDir, "kahadb"));
        broker.setPersistenceAdapter(store);

        // Small limits: the broker runs beside the tests in a small heap.
        broker.getSystemUsage().getMemoryUsage().setLimit(64L * 1024 * 1024);
        broker.getSystemUsage().getStoreUsage().setLimit(1024L * 1024 * 1024);
        broker.getSystemUsage().getTempUsage().setLimit(256L * 1024 * 1024);

        // AMQP messages are mapped to JMS ones (an AMQP string body is a
        // TextMessage for OpenWire clients); see the amqp connector below.
        //
        // destinationPolicy=FILE: the <destinationPolicy> of an ActiveMQ
        // snippet (deploy/activemq.xml, which broker.sh passes), with the
        // dead-letter queue of each queue it names. Without it, and for a
        // queue it does not name, a dead letter goes to ActiveMQ's shared
        // ActiveMQ.DLQ, as on a production broker.
        String policy = options.remove("destinationPolicy");
        if (policy != null) {
            try {
                broker.setDestinationPolicy(new BrokerSnippet(new File(policy)).destinationPolicy());
            } catch (Exception e) {
                System.err.println("EmbeddedBroker: destinationPolicy=" + policy + ": " + e);
                System.exit(2);
            }
        }

        // Users: the positional user (group "users"), and with
        // security=FILE the users and per-destination rights of the
        // <plugins> of an ActiveMQ snippet (deploy/activemq.xml), its ${name}
        // placeholders filled from securityProperties=FILE as ActiveMQ fills
        // them from credentials.properties. Without an entry a destination is
        // closed.
        String security = options.remove("security");
        String securityProperties = options.remove("securityProperties");
        if (positional.size() == 5 || security != null) {
            List<AuthenticationUser> users = new ArrayList<>();
            if (positional.size() == 5) {
                users.add(new AuthenticationUser(positional.get(3), positional.get(4), "users"));
            }
            List<DestinationMapEntry> rights = new ArrayList<>();
            if (security != null) {
                try {
                    new BrokerSnippet(new File(security)).security(securityProperties, users, rights);
                } catch (Exception e) {
                    System.err.println("EmbeddedBroker: security=" + security + ": " + e);
                    System.exit(2);
                }
            }
            SimpleAuthenticationPlugin auth = new SimpleAuthenticationPlugin(users);
            auth.setAnonymousAccessAllowed(false);
            broker.setPlugins(security == null ? new BrokerPlugin[] {auth}
                    : new BrokerPlugin[] {auth, new AuthorizationPlugin(new DefaultAuthorizationMap(rights))});
        }

        connectors.put("amqp", listen(broker, "amqp://127.0.0.1:" + amqpPort
                + "?maximumConnections=1000&transport.transformer=jms&transport.tcpNoDelay=true"));

        // amqpsPort=N keystore=FILE keystorePassword=P: one more AMQP
        // connector, over TLS, with the key and certificate of the PKCS12
        // keystore (the broker's SslContext, as <sslContext> in activemq.xml).
        String amqpsPort = options.remove("amqpsPort");
        String keystore = options.remove("keystore");
        String keystorePassword = options.remove("keystorePassword");
        if (amqpsPort != null) {
            if (keystore == null || keystorePassword == null) {
                System.err.println("EmbeddedBroker: amqpsPort needs keystore and keystorePassword");
                System.exit(2);
            }
            java.security.KeyStore keys = java.security.KeyStore.getInstance("PKCS12");
            try (java.io.FileInputStream in = new java.io.FileInputStream(keystore)) {
                keys.load(in, keystorePassword.toCharArray());
            }
            javax.net.ssl.KeyManagerFactory kmf = javax.net.ssl.KeyManagerFactory.getInstance(
                    javax.net.ssl.KeyManagerFactory.getDefaultAlgorithm());
            kmf.init(keys, keystorePassword.toCharArray());
            broker.setSslContext(new org.apache.activemq.broker.SslContext(
                    kmf.getKeyManagers(), null, null));
            connectors.put("amqps", listen(broker, "amqp+ssl://127.0.0.1:"
                    + port("amqpsPort", amqpsPort)
                    + "?maximumConnections=1000&transport.transformer=jms&transport.tcpNoDelay=true"));
        }
        connectors.put("openwire", listen(broker,
                "tcp://127.0.0.1:" + openwirePort + "?transport.tcpNoDelay=true"));
        // STOMP on loopback: stompPort=N.
        String stompPort = options.remove("stompPort");
        if (stompPort != null) {
            connectors.put("stomp", listen(broker, "stomp://127.0.0.1:"
                    + port("stompPort", stompPort) + "?transport.tcpNoDelay=true"));
        }

        // Options are taken off the map as they are applied; what is left is
        // a key no block knows.
        if (!options.isEmpty()) {
            System.err.println("EmbeddedBroker: unknown option(s) " + options.keySet());
            System.exit(2);
        }

        try {
            broker.start();
        } catch (Exception e) {
            failed(e);
        }
        broker.waitUntilStarted();
        StringBuilder ports = new StringBuilder();
        for (Map.Entry<String, TransportConnector> c : connectors.entrySet()) {
            ports.append(c.getKey()).append('=')
                    .append(c.getValue().getServer().getSocketAddress().getPort()).append('\n');
        }
        Path file = dataDir.toPath().resolve("ports");
        Path part = dataDir.toPath().resolve("ports.part");
        Files.writeString(part, ports);
        Files.move(part, file, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
        System.out.println("broker started " + ports.toString().trim().replace('\n', ' '));
        System.out.flush();
        broker.waitUntilStopped();
    }

    // A port argument: 0 (any free port) to 65535; anything else stops the
    // launcher (exit 2).
    private static int port(String name, String text) {
        try {
            int port = Integer.parseInt(text);
            if (port >= 0 && port <= 65535) {
                return port;
            }
        } catch (NumberFormatException e) {
            // reported below
        }
        System.err.println("EmbeddedBroker: " + name + " must be a port number (0 for any free port): "
                + text);
        System.exit(2);
        return -1;
    }

    // A connector, listening from here on (its port is bound at once).
    private static TransportConnector listen(BrokerService broker, String uri) {
        try {
            return broker.addConnector(uri);
        } catch (Exception e) {
            failed(e);
            return null;
        }
    }

    private static void failed(Exception e) {
        boolean portTaken = false;
        for (Throwable t = e; t != null; t = t.getCause()) {
            portTaken |= t instanceof BindException;
        }
        System.err.println("EmbeddedBroker: could not start: " + e);
        System.exit(portTaken ? 3 : 1);
    }
}

/**
 * Reads an ActiveMQ configuration snippet: a {@code <broker>} element with a
 * {@code <destinationPolicy>} of dead-letter strategies and a
 * {@code <plugins>} element with a simpleAuthenticationPlugin and an
 * authorizationPlugin, set the way ActiveMQ's own XML configuration sets
 * them. An element outside ActiveMQ's namespace, under another parent than
 * in ActiveMQ's schema, or that it does not know, and an attribute it does
 * not know, are refused, so the snippet cannot hold a setting the test broker
 * would silently leave out.
 */
final class BrokerSnippet {
    private static final String NAMESPACE = "http://activemq.apache.org/schema/core";
    // Each element the snippet may hold: its parent, then its attributes.
    private static final Map<String, List<String>> KNOWN = Map.ofEntries(
            Map.entry("broker", List.of("#document")),
            Map.entry("destinationPolicy", List.of("broker")),
            Map.entry("policyMap", List.of("destinationPolicy")),
            Map.entry("policyEntries", List.of("policyMap")),
            Map.entry("policyEntry", List.of("policyEntries", "queue")),
            Map.entry("deadLetterStrategy", List.of("policyEntry")),
            Map.entry("individualDeadLetterStrategy",
                    List.of("deadLetterStrategy", "queuePrefix", "useQueueForQueueMessages",
                            "processNonPersistent")),
            Map.entry("plugins", List.of("broker")),
            Map.entry("simpleAuthenticationPlugin", List.of("plugins", "anonymousAccessAllowed")),
            Map.entry("users", List.of("simpleAuthenticationPlugin")),
            Map.entry("authenticationUser", List.of("users", "username", "password", "groups")),
            Map.entry("authorizationPlugin", List.of("plugins")),
            Map.entry("map", List.of("authorizationPlugin")),
            Map.entry("authorizationMap", List.of("map")),
            Map.entry("authorizationEntries", List.of("authorizationMap")),
            Map.entry("authorizationEntry",
                    List.of("authorizationEntries", "queue", "topic", "read", "write", "admin")));

    private final File xml;
    private final org.w3c.dom.Document doc;

    BrokerSnippet(File xml) throws Exception {
        this.xml = xml;
        javax.xml.parsers.DocumentBuilderFactory factory =
                javax.xml.parsers.DocumentBuilderFactory.newInstance();
        factory.setNamespaceAware(true);
        doc = factory.newDocumentBuilder().parse(xml);
        for (org.w3c.dom.Element e : elements("*")) {
            String name = e.getLocalName();
            List<String> known = KNOWN.get(name);
            if (known == null || !NAMESPACE.equals(e.getNamespaceURI())) {
                throw new IllegalArgumentException(xml + ": unknown element <" + name + ">");
            }
            String parent = e.getParentNode() instanceof org.w3c.dom.Element p ? p.getLocalName()
                    : "#document";
            if (!parent.equals(known.get(0))) {
                throw new IllegalArgumentException(xml + ": <" + name + "> inside <" + parent + ">");
            }
            org.w3c.dom.NamedNodeMap given = e.getAttributes();
            for (int a = 0; a < given.getLength(); a++) {
                String attribute = given.item(a).getNodeName();
                if (!attribute.startsWith("xmlns") && !known.subList(1, known.size()).contains(attribute)) {
                    throw new IllegalArgumentException(
                            xml + ": unknown attribute " + attribute + " of <" + name + ">");
                }
            }
        }
    }

    // The users and rights of <plugins>, their ${name} placeholders filled
    // from the properties file (if any).
    void security(String propertiesFile, List<AuthenticationUser> users,
                  List<DestinationMapEntry> rights) throws Exception {
        java.util.Properties values = new java.util.Properties();
        if (propertiesFile != null) {
            try (java.io.Reader in = new java.io.FileReader(propertiesFile)) {
                values.load(in);
            }
        }
        for (org.w3c.dom.Element e : elements("simpleAuthenticationPlugin")) {
            if (!"false".equals(e.getAttribute("anonymousAccessAllowed"))) {
                throw new IllegalArgumentException(xml + ": anonymousAccessAllowed must be false");
            }
        }
        for (org.w3c.dom.Element e : elements("authenticationUser")) {
            users.add(new AuthenticationUser(value(e, "username", values),
                    value(e, "password", values), value(e, "groups", values)));
        }
        for (org.w3c.dom.Element e : elements("authorizationEntry")) {
            AuthorizationEntry entry = new AuthorizationEntry();
            if (e.hasAttribute("queue")) {
                entry.setQueue(value(e, "queue", values));
            } else {
                entry.setTopic(value(e, "topic", values));
            }
            entry.setRead(value(e, "read", values));
            entry.setWrite(value(e, "write", values));
            entry.setAdmin(value(e, "admin", values));
            rights.add(entry);
        }
    }

    // The <destinationPolicy>: one policy entry per <policyEntry>, with its
    // dead-letter strategy (ActiveMQ's defaults for what is not set).
    PolicyMap destinationPolicy() {
        java.util.Properties none = new java.util.Properties();
        List<PolicyEntry> entries = new ArrayList<>();
        for (org.w3c.dom.Element e : elements("policyEntry")) {
            if (!e.hasAttribute("queue")) {
                throw new IllegalArgumentException(xml + ": <policyEntry> without queue");
            }
            PolicyEntry entry = new PolicyEntry();
            entry.setQueue(value(e, "queue", none));
            org.w3c.dom.NodeList strategies = e.getElementsByTagNameNS(NAMESPACE,
                    "individualDeadLetterStrategy");
            for (int i = 0; i < strategies.getLength(); i++) {
                org.w3c.dom.Element s = (org.w3c.dom.Element) strategies.item(i);
                IndividualDeadLetterStrategy dlq = new IndividualDeadLetterStrategy();
                if (s.hasAttribute("queuePrefix")) {
                    dlq.setQueuePrefix(value(s, "queuePrefix", none));
                }
                if (s.hasAttribute("useQueueForQueueMessages")) {
                    dlq.setUseQueueForQueueMessages(flag(s, "useQueueForQueueMessages", none));
                }
                if (s.hasAttribute("processNonPersistent")) {
                    dlq.setProcessNonPersistent(flag(s, "processNonPersistent", none));
                }
                entry.setDeadLetterStrategy(dlq);
            }
            entries.add(entry);
        }
        PolicyMap policies = new PolicyMap();
        policies.setPolicyEntries(entries);
        return policies;
    }

    private List<org.w3c.dom.Element> elements(String name) {
        List<org.w3c.dom.Element> found = new ArrayList<>();
        org.w3c.dom.NodeList all = doc.getElementsByTagNameNS("*", name);
        for (int i = 0; i < all.getLength(); i++) {
            found.add((org.w3c.dom.Element) all.item(i));
        }
        return found;
    }

    // The attribute with its ${name} placeholders filled in; a placeholder
    // without a value is an error, as in ActiveMQ.
    // A true/false attribute.
    private static boolean flag(org.w3c.dom.Element e, String attribute, java.util.Properties values) {
        String v = value(e, attribute, values);
        if (!v.equals("true") && !v.equals("false")) {
            throw new IllegalArgumentException(attribute + " must be true or false");
        }
        return v.equals("true");
    }

    private static String value(org.w3c.dom.Element e, String attribute, java.util.Properties values) {
        String text = e.getAttribute(attribute);
        java.util.regex.Matcher m = java.util.regex.Pattern.compile("\\$\\{([^}]*)\\}").matcher(text);
        StringBuilder out = new StringBuilder();
        while (m.find()) {
            String v = values.getProperty(m.group(1));
            if (v == null) {
                throw new IllegalArgumentException("no value for ${" + m.group(1) + "}");
            }
            m.appendReplacement(out, java.util.regex.Matcher.quoteReplacement(v));
        }
        m.appendTail(out);
        return out.toString();
    }
}
